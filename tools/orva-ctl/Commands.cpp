#include "Commands.h"

#include "keys/CommandTable.h"
#include "keys/ControlNames.h"
#include "keys/RepeatTable.h"

namespace ctl {
namespace {

// Every control that sends a command has a command-line name, and no name is used twice.
constexpr bool everyCommandNamed()
{
    for (const keys::OneShot &b : keys::kOneShots)
        if (!keys::findByControl(b.control) || keys::findByControl(b.control)->command.empty())
            return false;
    for (const keys::RepeatKey &k : keys::kRepeatKeys)
        if (!keys::findByControl(k.control) || keys::findByControl(k.control)->command.empty())
            return false;
    for (const keys::ControlName &a : keys::kControlNames)
        if (!a.command.empty() && keys::findByCommand(a.command) != &a)
            return false;
    return true;
}
static_assert(everyCommandNamed());

QString text(std::string_view s)
{
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

std::vector<NamedCommand> build()
{
    std::vector<NamedCommand> out;
    for (const keys::ControlName &row : keys::kControlNames) {
        if (row.command.empty())
            continue;
        for (const keys::OneShot &b : keys::kOneShots)
            if (b.control == row.control)
                out.push_back({text(row.command), text(row.control), text(b.code), false});
        for (const keys::RepeatKey &k : keys::kRepeatKeys)
            if (k.control == row.control)
                out.push_back({text(row.command), text(row.control), text(k.code), true});
    }
    return out;
}

} // namespace

const std::vector<NamedCommand> &namedCommands()
{
    static const std::vector<NamedCommand> commands = build();
    return commands;
}

const NamedCommand *findCommand(const QString &name)
{
    for (const NamedCommand &c : namedCommands())
        if (c.name == name)
            return &c;
    return nullptr;
}

} // namespace ctl
