#include "Widgets.h"
#include "exchange/CommandText.h"

#include <QAccessible>
#include <algorithm>
#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

PanelButton::PanelButton(const QString &caption, QWidget *parent) : QPushButton(caption, parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

namespace {
constexpr int kCaptionFlags = Qt::AlignCenter | Qt::TextWordWrap;
constexpr qreal kSmallestCaptionPoints = 6.0;

// Where a caption may go on a face of `size`: inside the raised edges and the
// focus edge, so the caption keeps one font whether or not the button has the focus.
QRect captionArea(QSize size)
{
    return QRect(QPoint(0, 0), size).adjusted(3, 2, -3, -2);
}
} // namespace

QFont PanelButton::captionFont() const
{
    const QFont base = font();
    if (m_fittedText == text() && m_fittedSize == size() && m_fittedFrom == base)
        return m_fittedFont;
    // A caption that would be cut off (too long for one line and too tall when
    // wrapped) is drawn a quarter point smaller at a time until it fits whole.
    const QRect area = captionArea(size());
    QFont f = base;
    auto fits = [&](const QFont &font) {
        const QRect need = QFontMetrics(font).boundingRect(area, kCaptionFlags, text());
        return need.width() <= area.width() && need.height() <= area.height();
    };
    if (!text().isEmpty() && base.pointSizeF() > 0) {
        for (qreal pt = base.pointSizeF(); !fits(f) && pt - 0.25 >= kSmallestCaptionPoints;) {
            pt -= 0.25;
            f.setPointSizeF(pt);
        }
    }
    m_fittedText = text();
    m_fittedSize = size();
    m_fittedFrom = base;
    m_fittedFont = f;
    return f;
}

void PanelButton::paintEvent(QPaintEvent *event)
{
    if (!m_face.isValid()) {
        QPushButton::paintEvent(event);
        return;
    }
    // A raised face in the back colour, sunken while down; black outer edge when
    // focused, and a dotted focus rectangle inside.
    QPainter p(this);
    QRect r = rect();
    const bool down = isDown() || m_held;
    if (hasFocus()) {
        p.setPen(Qt::black);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }
    p.fillRect(r, m_face);
    const QColor light = Qt::white, shadow = m_face.darker(160), dark = Qt::black;
    const int x0 = r.left(), y0 = r.top(), x1 = r.right(), y1 = r.bottom();
    if (down) {
        p.setPen(shadow);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    } else {
        p.setPen(light);
        p.drawLine(x0, y0, x1 - 1, y0);
        p.drawLine(x0, y0, x0, y1 - 1);
        p.setPen(dark);
        p.drawLine(x0, y1, x1, y1);
        p.drawLine(x1, y0, x1, y1);
        p.setPen(shadow);
        p.drawLine(x0 + 1, y1 - 1, x1 - 1, y1 - 1);
        p.drawLine(x1 - 1, y0 + 1, x1 - 1, y1 - 1);
    }
    QRect textRect = r.adjusted(2, 1, -2, -1);
    if (down)
        textRect.translate(1, 1);
    p.setFont(captionFont());
    p.setPen(isEnabled() ? m_captionColour : shadow);
    p.drawText(textRect, kCaptionFlags, text());
    if (hasFocus()) {
        QStyleOptionFocusRect opt;
        opt.initFrom(this);
        opt.rect = r.adjusted(3, 3, -3, -3);
        opt.backgroundColor = m_face;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
    }
}

void PanelButton::mousePressEvent(QMouseEvent *event)
{
    if (!m_pressRelease) {
        QPushButton::mousePressEvent(event);
        return;
    }
    event->accept();
    if (m_held)
        return;  // a second button going down on a held key
    m_held = true;
    setFocus(Qt::MouseFocusReason);
    update();
    emit mouseDown();
}

void PanelButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_pressRelease) {
        QPushButton::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    if (!m_held || m_heldByKey || event->buttons() != Qt::NoButton)
        return;  // another button is still down, or a key holds it
    m_held = false;
    update();
    emit mouseUp();
}

void PanelButton::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressRelease)
        event->accept();
    else
        QPushButton::mouseMoveEvent(event);
}

void PanelButton::cancelHold()
{
    if (!m_held)
        return;
    m_held = false;
    m_heldByKey = 0;
    update();
    emit mouseUp();
}

namespace {
bool isEnter(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}
bool isActivation(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Space || isEnter(event);
}
}

void PanelButton::keyPressEvent(QKeyEvent *event)
{
    if (focusPolicy() == Qt::NoFocus) {
        event->ignore();  // out of reach: the key goes on to the window
        return;
    }
    if (m_pressRelease) {
        if (!isActivation(event)) {
            event->ignore();  // the key goes on to the window
            return;
        }
        event->accept();
        if (event->isAutoRepeat() || m_held)
            return;
        m_held = true;
        m_heldByKey = event->key();
        update();
        emit mouseDown();
        return;
    }
    if (isEnter(event)) {
        event->accept();
        if (!event->isAutoRepeat())
            click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void PanelButton::keyReleaseEvent(QKeyEvent *event)
{
    if (focusPolicy() == Qt::NoFocus) {
        event->ignore();
        return;
    }
    if (m_pressRelease) {
        if (!m_heldByKey || event->key() != m_heldByKey) {
            event->ignore();
            return;
        }
        event->accept();
        if (!event->isAutoRepeat())
            cancelHold();  // the release
        return;
    }
    if (isEnter(event)) {
        event->accept();
        return;
    }
    QPushButton::keyReleaseEvent(event);
}

// A key's release goes to whatever has the focus: a key hold ends with the focus.
void PanelButton::focusOutEvent(QFocusEvent *event)
{
    if (m_heldByKey)
        cancelHold();
    QPushButton::focusOutEvent(event);
}


namespace {

// A label as screen readers see it: static text under its name; a display line
// (TXD, RXD, status) also gives its current text as the description and the value.
class PanelLabelAccessible final : public QAccessibleWidget {
public:
    explicit PanelLabelAccessible(PanelLabel *label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        const auto *label = static_cast<const PanelLabel *>(widget());
        if (t == QAccessible::Name && label->accessibleName().isEmpty())
            return label->caption();
        if ((t == QAccessible::Value || t == QAccessible::Description) && label->isReadByScreenReaders())
            return label->caption();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *panelLabelAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String("PanelLabel") || !object->isWidgetType())
        return nullptr;
    return new PanelLabelAccessible(static_cast<PanelLabel *>(object));
}

} // namespace

PanelLabel::PanelLabel(const QString &caption, QWidget *parent) : QLabel(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(panelLabelAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setTextFormat(Qt::PlainText);
    setCaption(caption);
}

void PanelLabel::setCaption(const QString &caption)
{
    const bool changed = caption != m_caption;
    m_caption = caption;
    const QString shown = caption.left(kShownChars);
    if (shown != text())
        setText(shown);
    if (changed && m_readByScreenReaders) {
        // The line's text is its description: screen readers hear it change.
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void PanelLabel::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    if (!m_borderColour.isValid() || frameShape() != QFrame::Box)
        return;
    QPainter p(this);
    p.setPen(m_borderColour);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

WordMarkImage::WordMarkImage(QWidget *parent) : QWidget(parent), m_picture(wordMarkPicture())
{
    setFixedSize(m_picture.size());
}

void WordMarkImage::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawImage(0, 0, m_picture);
}

void WordMarkImage::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    emit doubleClicked();
}

QValidator::State CommandTextValidator::validate(QString &input, int &pos) const
{
    const auto isLineBreak = [](QChar c) {
        return c == u'\r' || c == u'\n' || c == QChar(0x85) || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
    };
    // The box never holds a line break, so one came with the text just put in,
    // which ends at the cursor: its lines after the first are dropped.
    for (qsizetype at; (at = std::find_if(input.cbegin(), input.cend(), isLineBreak) - input.cbegin()) < input.size();) {
        if (pos > at) {
            input.remove(at, pos - at);
            pos = int(at);
        } else {
            input.truncate(at);
        }
    }
    return firstUnsendable(input) ? Invalid : Acceptable;
}
