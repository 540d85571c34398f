#include "Commands.h"

#include "keys/CommandTable.h"
#include "keys/ControlNames.h"
#include "keys/RepeatTable.h"

namespace ctl {
namespace {

// Every control that sends a command has a command-line name, and no name is used
// twice. Rows are compared by value, not by address: an address is no constant
// expression in a sanitizer build.
constexpr bool hasCommandName(std::string_view control)
{
    for (const keys::ControlName &a : keys::kControlNames)
        if (a.control == control)
            return !a.command.empty();
    return false;
}
constexpr bool everyCommandNamed()
{
    for (const keys::OneShot &b : keys::kOneShots)
        if (!hasCommandName(b.control))
            return false;
    for (const keys::RepeatKey &k : keys::kRepeatKeys)
        if (!hasCommandName(k.control))
            return false;
    constexpr std::size_t n = std::size(keys::kControlNames);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            if (!keys::kControlNames[i].command.empty() && keys::kControlNames[i].command == keys::kControlNames[j].command)
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
