#pragma once
// The web page's documents, drawn from the window's tables: the layout table gives
// every control its name (data-control), place, caption, colours and font, the
// command table what each button sends and whether it is held. Pure functions.

#include <QByteArray>
#include <QString>
#include <vector>

namespace web {

struct Listed {
    QString id;
    QString name;
};

// The index: every projector, its state filled in by the page's script.
QByteArray indexPage(const std::vector<Listed> &projectors);
// A projector's page: the window's controls at their places (the panel), which the
// style sheet flows into one column for a phone (the touch layout).
QByteArray projectorPage(const Listed &projector, bool sendAllowed);
// The login form; `wrong`: the last password was wrong.
QByteArray loginPage(bool wrong);
// The style of the window's controls: place, size, colours and font of each.
QByteArray panelStyle();

} // namespace web
