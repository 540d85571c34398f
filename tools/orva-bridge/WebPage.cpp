#include "WebPage.h"

#include "LayoutTable.h"
#include "keys/CommandLookup.h"

#include <map>

namespace web {
namespace {

using layout::ControlSpec;
using layout::Kind;

QString text(const char8_t *utf8)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(utf8));
}

QString escaped(const QString &s)
{
    return s.toHtmlEscaped();
}

QString px(int twips)
{
    return QString::number(double(twips) / layout::kTwipsPerPixel, 'g', 6) + QStringLiteral("px");
}

QString colour(std::uint32_t rgb)
{
    return QStringLiteral("#%1").arg(rgb, 6, 16, QLatin1Char('0'));
}

// The nearest the browser has to the window's faces: the same Gothic faces where a
// Windows machine has them, Debian's IPA faces, then the generic family.
QString fontFamily(const char8_t *face)
{
    return face == layout::kGothic ? QStringLiteral("\"MS Gothic\",\"IPAGothic\",\"Noto Sans Mono CJK JP\",monospace")
                                   : QStringLiteral("\"MS PGothic\",\"IPAPGothic\",\"Noto Sans CJK JP\",sans-serif");
}

QByteArray head(const QString &title)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                         "<title>%1</title><link rel=\"stylesheet\" href=\"/app.css\">")
        .arg(escaped(title))
        .toUtf8();
}

// One control, with what it holds.
void addControl(QString &out, const ControlSpec &c, const std::multimap<std::string_view, const ControlSpec *> &held)
{
    const QString name = QString::fromLatin1(c.name.data(), c.name.size());
    const QString caption = escaped(text(c.caption));
    QString attributes = QStringLiteral(" data-control=\"%1\"").arg(name);
    if (c.flags & layout::Flag::Hidden)
        attributes += QStringLiteral(" hidden");
    if (const char *spoken = layout::accessibleName(c.name))
        attributes += QStringLiteral(" aria-label=\"%1\"").arg(escaped(QString::fromUtf8(spoken)));
    switch (c.kind) {
    case Kind::Button: {
        const keys::Command *row = keys::findByControl(name);
        QString action = row ? (row->repeats() ? QStringLiteral("hold") : QStringLiteral("click")) : QString();
        if (name == u"Command34")
            action = QStringLiteral("data-area");
        else if (name == u"Command95" || name == u"Command96")
            action = name == u"Command95" ? QStringLiteral("send") : QStringLiteral("clear");
        if (action.isEmpty())
            attributes += QStringLiteral(" disabled");  // END and COM: the bridge keeps the port
        else
            attributes += QStringLiteral(" data-action=\"%1\"").arg(action);
        out += QStringLiteral("<button type=\"button\"%1>%2</button>").arg(attributes, caption);
        return;
    }
    case Kind::Label:
        out += QStringLiteral("<div%1>%2</div>").arg(attributes, caption);
        return;
    case Kind::Option:
        out += QStringLiteral("<label%1><input type=\"radio\" disabled%2> %3</label>")
                   .arg(attributes, c.flags & layout::Flag::Selected ? QStringLiteral(" checked") : QString(), caption);
        return;
    case Kind::TextBox:
        out += QStringLiteral("<input type=\"text\" maxlength=\"128\" autocomplete=\"off\"%1>").arg(attributes);
        return;
    case Kind::Image:
        out += QStringLiteral("<img src=\"/wordmark.png\" alt=\"ORVA\"%1>").arg(attributes);
        return;
    case Kind::Frame:
        out += QStringLiteral("<div%1 role=\"group\">").arg(attributes);
        const auto [from, to] = held.equal_range(c.name);
        for (auto it = from; it != to; ++it)
            addControl(out, *it->second, held);
        out += QStringLiteral("</div>");
        return;
    }
}

} // namespace

QByteArray indexPage(const std::vector<Listed> &projectors)
{
    QString rows;
    for (const Listed &p : projectors)
        rows += QStringLiteral("<tr data-projector=\"%1\"><td><a href=\"/p/%1/\">%2</a></td>"
                               "<td data-field=\"available\"></td><td data-field=\"power\"></td><td data-field=\"input\"></td>"
                               "<td data-field=\"mute\"></td><td data-field=\"hours\"></td><td data-field=\"temperatures\"></td>"
                               "<td data-field=\"fault\"></td></tr>")
                    .arg(escaped(p.id), escaped(p.name));
    return head(QStringLiteral("Projectors")) + QStringLiteral(
               "<script src=\"/index.js\" defer></script></head><body class=\"index\"><h1>Projectors</h1>"
               "<table><thead><tr><th>Projector</th><th>Available</th><th>Power</th><th>Input</th><th>Mute</th>"
               "<th>Lamp hours</th><th>Temperatures</th><th>Fault</th></tr></thead><tbody>%1</tbody></table></body></html>\n")
                                                     .arg(rows)
                                                     .toUtf8();
}

QByteArray projectorPage(const Listed &projector, bool sendAllowed)
{
    std::multimap<std::string_view, const ControlSpec *> held;
    for (const ControlSpec &c : layout::kControls)
        held.emplace(c.container ? std::string_view(c.container) : std::string_view(), &c);
    QString controls;
    const auto [from, to] = held.equal_range(std::string_view());
    for (auto it = from; it != to; ++it)
        addControl(controls, *it->second, held);
    for (const layout::LineSpec &line : layout::kLines)
        controls += QStringLiteral("<div class=\"line\" data-line=\"%1\"></div>").arg(QLatin1String(line.name.data(), line.name.size()));
    return head(projector.name) + QStringLiteral(
               "<link rel=\"stylesheet\" href=\"/panel.css\"><script src=\"/panel.js\" defer></script></head>"
               "<body class=\"projector compact\" data-projector=\"%1\" data-send=\"%2\">"
               "<header><a href=\"/\">All projectors</a><h1>%3</h1><button type=\"button\" id=\"layout\">Touch layout</button></header>"
               "<section id=\"state\" aria-live=\"polite\"></section>"
               "<div id=\"window\"><div class=\"caption\">%4</div><div class=\"client\">%5</div></div></body></html>\n")
                                             .arg(escaped(projector.id), sendAllowed ? QStringLiteral("yes") : QStringLiteral("no"),
                                                  escaped(projector.name), escaped(text(layout::kCaption)), controls)
                                             .toUtf8();
}

QByteArray loginPage(bool wrong)
{
    return head(QStringLiteral("Log in")) + QStringLiteral(
               "</head><body class=\"login\"><form method=\"post\" action=\"/login\"><h1>orva-bridge</h1>%1"
               "<label>Password <input type=\"password\" name=\"password\" autocomplete=\"current-password\" autofocus></label>"
               "<button type=\"submit\">Log in</button></form></body></html>\n")
                                                 .arg(wrong ? QStringLiteral("<p role=\"alert\">The password is wrong.</p>") : QString())
                                                 .toUtf8();
}

QByteArray panelStyle()
{
    QString out = QStringLiteral(".client{width:%1;background:%2}\n").arg(px(layout::kClientWidth), colour(layout::kWindowBack));
    for (const ControlSpec &c : layout::kControls) {
        const layout::FontSpec &f = layout::fontSpec(c.font);
        out += QStringLiteral("[data-control=\"%1\"]{left:%2;top:%3;width:%4;height:%5;font:%6 %7pt %8")
                   .arg(QLatin1String(c.name.data(), c.name.size()), px(c.left), px(c.top), px(c.width), px(c.height),
                        f.bold ? QStringLiteral("bold") : QStringLiteral("normal"), QString::number(f.pointSize), fontFamily(f.face));
        if (c.back != layout::kSystemColour)
            out += QStringLiteral(";background:%1").arg(colour(c.back));
        if (c.fore != layout::kDefaultColour)
            out += QStringLiteral(";color:%1").arg(colour(c.fore));
        if (c.flags & (layout::Flag::Centre | layout::Flag::Right))
            out += (c.flags & layout::Flag::Centre) ? QStringLiteral(";text-align:center") : QStringLiteral(";text-align:right");
        if (c.flags & layout::Flag::Border)
            out += QStringLiteral(";border:1px solid #000");
        out += QStringLiteral("}\n");
    }
    for (const layout::LineSpec &l : layout::kLines)
        out += QStringLiteral("[data-line=\"%1\"]{left:%2;top:%3;width:%4;height:%5;background:%6}\n")
                   .arg(QLatin1String(l.name.data(), l.name.size()), px(std::min(l.x1, l.x2)), px(std::min(l.y1, l.y2)),
                        l.x1 == l.x2 ? QStringLiteral("%1px").arg(layout::kLineWidthPx) : px(std::abs(l.x2 - l.x1)),
                        l.y1 == l.y2 ? QStringLiteral("%1px").arg(layout::kLineWidthPx) : px(std::abs(l.y2 - l.y1)),
                        colour(layout::kLineColour));
    return out.toUtf8();
}

} // namespace web
