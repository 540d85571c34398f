#pragma once
// The command table from Qt: a row found by a name or control given as text, and
// the table's texts as QString.

#include "keys/CommandTable.h"

#include <QString>
#include <QStringView>

namespace keys {

inline QString qText(std::string_view s)
{
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

// nullptr when there is none.
inline const Command *findCommand(QStringView name)
{
    for (const Command &c : kCommands)
        if (QLatin1StringView(c.name.data(), qsizetype(c.name.size())) == name)
            return &c;
    return nullptr;
}
inline const Command *findByControl(QStringView control)
{
    for (const Command &c : kCommands)
        if (QLatin1StringView(c.control.data(), qsizetype(c.control.size())) == control)
            return &c;
    return nullptr;
}

} // namespace keys
