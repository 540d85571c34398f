#include "FormBuilder.h"

#include "Widgets.h"

#include <QButtonGroup>
#include <QFrame>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <limits>
#include <vector>

using namespace layout;

namespace {

QString fromU8(const char8_t *s)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(s));
}

QColor rgb(std::uint32_t c)
{
    return QColor::fromRgb(QRgb(0xFF000000u | c));
}

void setBack(QWidget *w, std::uint32_t back)
{
    if (back == kSystemColour)
        return;
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, rgb(back));
    pal.setColor(QPalette::Button, rgb(back));
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

// The text colour of a control: the layout's, else black. It is set whatever the
// desktop's palette, since the faces behind the text are fixed too.
QColor textColour(std::uint32_t fore)
{
    return fore == kDefaultColour ? QColor(Qt::black) : rgb(fore);
}

void setFore(QWidget *w, std::uint32_t fore)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, textColour(fore));
    pal.setColor(QPalette::ButtonText, textColour(fore));
    w->setPalette(pal);
}

// Options are exclusive within their own container only: one group per container
// (a button group overrides the options' own auto-exclusivity).
void joinContainerGroup(QRadioButton *option, QWidget *container)
{
    auto *group = container->findChild<QButtonGroup *>(QString(), Qt::FindDirectChildrenOnly);
    if (!group) {
        group = new QButtonGroup(container);
        group->setObjectName(QStringLiteral("optionGroup"));  // exclusive, as a button group is
    }
    group->addButton(option);
}

QWidget *makeControl(const ControlSpec &c, QWidget *parent)
{
    const QString caption = fromU8(c.caption);
    switch (c.kind) {
    case Kind::Button: {
        auto *b = new PanelButton(caption, parent);
        if (!(c.flags & Flag::StandardStyle)) {
            // A face in the desktop's button colour takes its button-text colour too.
            const bool system = c.back == kSystemColour;
            b->setFaceColour(system ? b->palette().color(QPalette::Button) : rgb(c.back));
            b->setCaptionColour(system && c.fore == kDefaultColour ? b->palette().color(QPalette::ButtonText) : textColour(c.fore));
        } else {
            // Drawn by the style on the face colour it inherits from its frame.
            setFore(b, c.fore);
        }
        b->setPressRelease(c.flags & Flag::PressRelease);
        return b;
    }
    case Kind::Label: {
        auto *l = new PanelLabel(caption, parent);
        setBack(l, c.back);
        setFore(l, c.fore);
        Qt::Alignment a = Qt::AlignTop;
        a |= (c.flags & Flag::Centre) ? Qt::AlignHCenter : (c.flags & Flag::Right) ? Qt::AlignRight : Qt::AlignLeft;
        if (c.flags & Flag::Border) {
            l->setFrameStyle(QFrame::Box | QFrame::Plain);
            l->setLineWidth(1);
            l->setBorderColour(Qt::black);  // the same for every display box, whatever its text colour
            a = Qt::AlignLeft | Qt::AlignVCenter;
        }
        l->setAlignment(a);
        return l;
    }
    case Kind::Frame: {
        auto *f = new QFrame(parent);
        f->setFrameStyle(QFrame::Box | QFrame::Sunken);
        setBack(f, c.back);
        return f;
    }
    case Kind::Option: {
        auto *o = new QRadioButton(caption, parent);
        setBack(o, c.back);
        setFore(o, c.fore);
        o->setChecked(c.flags & Flag::Selected);
        joinContainerGroup(o, parent);
        return o;
    }
    case Kind::TextBox: {
        auto *t = new QLineEdit(parent);
        t->setMaxLength(std::numeric_limits<int>::max());
        t->setValidator(new CommandTextValidator(t));
        return t;
    }
    case Kind::Image:
        return new WordMarkImage(parent);
    }
    return nullptr;
}

} // namespace

void registerFontSubstitutions()
{
    const QString gothic = fromU8(kGothic), pgothic = fromU8(kPGothic);
    const QStringList g{QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic")};
    const QStringList pg{QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")};
    QFont::insertSubstitutions(gothic, g);
    QFont::insertSubstitutions(QStringLiteral("MS Gothic"), g);
    QFont::insertSubstitutions(pgothic, pg);
    QFont::insertSubstitutions(QStringLiteral("MS PGothic"), pg);
}

QFont layoutFont(Font key)
{
    const FontSpec &f = fontSpec(key);
    QFont font(fromU8(f.face));
    font.setPointSizeF(f.pointSize);
    font.setBold(f.bold);
    return font;
}

QHash<QString, QWidget *> buildLayout(QWidget *form)
{
    QHash<QString, QWidget *> controls;
    controls.reserve(int(kControls.size()));
    std::vector<std::pair<int, QWidget *>> tabbed;
    for (const ControlSpec &c : kControls) {
        QWidget *parent = c.container ? controls.value(QString::fromLatin1(c.container)) : form;
        Q_ASSERT(parent);
        QWidget *w = makeControl(c, parent);
        const QString name = QString::fromLatin1(c.name.data(), qsizetype(c.name.size()));
        w->setObjectName(name);
        const char *spoken = accessibleName(c.name);
        w->setAccessibleName(spoken ? QString::fromUtf8(spoken) : QString::fromUtf8(reinterpret_cast<const char *>(c.caption)));
        if (c.kind == Kind::Button)
            w->setToolTip(w->accessibleName());
        else if (c.kind == Kind::Image)
            w->setToolTip(QStringLiteral("Ctrl+H opens the data area; then double-click here for the full window"));
        w->setFont(layoutFont(c.font));
        w->setGeometry(twipsToPixels(c.left), twipsToPixels(c.top), twipsToPixels(c.width), twipsToPixels(c.height));
        if (c.flags & Flag::Hidden)
            w->hide();
        if (c.tab >= 0 && w->focusPolicy() != Qt::NoFocus)
            tabbed.emplace_back(c.tab, w);
        controls.insert(name, w);
    }
    std::ranges::sort(tabbed, {}, &std::pair<int, QWidget *>::first);
    for (std::size_t i = 1; i < tabbed.size(); ++i)
        QWidget::setTabOrder(tabbed[i - 1].second, tabbed[i].second);
    return controls;
}
