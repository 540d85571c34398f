#pragma once
// The commands orva-ctl knows by name: every one-shot button and auto-repeat key
// of the panel, named by the shared table of control names.

#include <QString>
#include <vector>

namespace ctl {

struct NamedCommand {
    QString name;      // command-line name (power-on, status ...)
    QString control;   // the panel control that sends it (Command17 ...)
    QString code;      // its command code (C00 ...)
    bool repeatKey;    // an auto-repeat key: sent once, as by a short tap
};

// In the order of the name table.
const std::vector<NamedCommand> &namedCommands();
const NamedCommand *findCommand(const QString &name);

// The control of the power status query, which --wait polls.
inline constexpr const char *kStatusCommand = "status";

} // namespace ctl
