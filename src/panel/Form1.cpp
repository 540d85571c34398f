#include "Form1.h"

#include "FormBuilder.h"
#include "Widgets.h"
#include "WindowRuntime.h"
#include "exchange/ExchangeLog.h"
#include "keys/CommandTable.h"

#include <QApplication>
#include <QKeyEvent>
#include <QFrame>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>

#include <algorithm>
#include <vector>

using namespace layout;

// The layout table and the engine agree on the intervals the engine starts with.
static_assert(kTimers[0].intervalMs == ExchangeEngine::kStartRepeatMs);
static_assert(kTimers[1].intervalMs == ExchangeEngine::kStartReplyWindowMs);
static_assert(kTimers[3].intervalMs == ExchangeEngine::kStartDisplayHoldMs);

Form1::Form1(SerialControl &comm, WindowRuntime &runtime, ExchangeLog *log, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                  | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_runtime(runtime), m_engine(comm)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(reinterpret_cast<const char *>(kCaption)));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor::fromRgb(QRgb(0xFF000000u | kWindowBack)));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setFont(layoutFont(Font::F1));

    m_controls = buildLayout(this);
    txdLine = qobject_cast<PanelLabel *>(control(QStringLiteral("Label11")));
    rxdLine = qobject_cast<PanelLabel *>(control(QStringLiteral("Label12")));
    statusLine = qobject_cast<PanelLabel *>(control(QStringLiteral("Label22")));
    for (PanelLabel *line : {txdLine, rxdLine, statusLine})
        line->setReadByScreenReaders(true);
    portFrame = qobject_cast<QFrame *>(control(QStringLiteral("Frame8")));
    dataAreaButton = qobject_cast<PanelButton *>(control(QStringLiteral("Command34")));
    com1Option = qobject_cast<QRadioButton *>(control(QStringLiteral("Option1")));
    com2Option = qobject_cast<QRadioButton *>(control(QStringLiteral("Option2")));
    speed19200Option = qobject_cast<QRadioButton *>(control(QStringLiteral("Option9")));
    speed9600Option = qobject_cast<QRadioButton *>(control(QStringLiteral("Option10")));
    manualEntryBox = qobject_cast<QLineEdit *>(control(QStringLiteral("Text1")));

    // The window's own timers, named by the table (the engine keeps its three).
    const std::pair<QTimer *, std::size_t> timers[] = {{&portFrameTimer, 2}, {&unusedTimer, 4}};
    for (const auto &[timer, row] : timers) {
        timer->setObjectName(QString::fromLatin1(kTimers[row].name.data(), qsizetype(kTimers[row].name.size())));
        timer->setParent(this);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(kTimers[row].intervalMs);
    }

    // The whole design height until start-up makes the window compact.
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    m_requestedOuterHeight = kDesignOuterHeight;
    m_appliedFrameHeight = kDesignFrameHeight;

    // The tab stops in tab order, each with the focus policy it was built with.
    std::vector<std::pair<int, QWidget *>> stops;
    for (const ControlSpec &c : kControls)
        if (QWidget *w = control(QString::fromLatin1(c.name.data(), qsizetype(c.name.size())));
            w && c.tab >= 0 && w->focusPolicy() != Qt::NoFocus)
            stops.emplace_back(c.tab, w);
    std::ranges::sort(stops, {}, &std::pair<int, QWidget *>::first);
    for (const auto &[tab, w] : stops)
        m_tabStops.append({w, w->focusPolicy()});

    // Key preview: the window sees every key press before the focused control.
    installEventFilter(this);
    for (QWidget *w : std::as_const(m_controls))
        w->installEventFilter(this);

    if (log)
        log->watch(m_engine);
    connectHandlers();
    control(QStringLiteral("Command17"))->setFocus();
}

// The member timers leave the window's children as they are destroyed, before it;
// the controls stop reaching the engine, which goes before them.
Form1::~Form1()
{
    for (QWidget *w : std::as_const(m_controls))
        disconnect(w, nullptr, this, nullptr);
}

void Form1::connectHandlers()
{
    connect(&portFrameTimer, &QTimer::timeout, this, &Form1::hidePortFrame);
    connect(&m_engine, &ExchangeEngine::lineChanged, this, &Form1::showLine);
    connect(&m_engine, &ExchangeEngine::warning, this, &Form1::warn);
    connect(&m_engine, &ExchangeEngine::portInUse, this, &Form1::showPortInUse);

    auto button = [this](std::string_view name) {
        return qobject_cast<PanelButton *>(control(QString::fromLatin1(name.data(), qsizetype(name.size()))));
    };
    // Each command's control, by the control name of its row.
    for (const keys::Command &c : keys::kCommands) {
        if (!c.repeats()) {
            connect(button(c.control), &QPushButton::clicked, this, [this, &c] { m_engine.click(c); });
            continue;
        }
        connect(button(c.control), &PanelButton::mouseDown, this, [this, &c] { m_engine.press(c); });
        connect(button(c.control), &PanelButton::mouseUp, this, [this, &c] { m_engine.release(c); });
    }
    connect(button("Command16"), &QPushButton::clicked, this, &Form1::endProgram);
    connect(button("Command33"), &QPushButton::clicked, this, &Form1::showPortFrame);
    connect(dataAreaButton, &QPushButton::clicked, this, &Form1::toggleDataArea);
    connect(button("Command95"), &QPushButton::clicked, this, &Form1::sendManualEntry);
    connect(button("Command96"), &QPushButton::clicked, this, &Form1::clearManualEntry);
    connect(qobject_cast<WordMarkImage *>(control(QStringLiteral("Image1"))), &WordMarkImage::doubleClicked, this,
            &Form1::wordMarkDoubleClicked);
    // An option's handler runs when it becomes selected, by a click or by the program.
    auto onSelect = [this](QRadioButton *option, void (Form1::*handler)()) {
        connect(option, &QRadioButton::toggled, this, [this, handler](bool on) {
            if (on)
                (this->*handler)();
        });
    };
    onSelect(com1Option, &Form1::chooseCom1);
    onSelect(com2Option, &Form1::chooseCom2);
    onSelect(speed19200Option, &Form1::choose19200);
    onSelect(speed9600Option, &Form1::choose9600);
}

void Form1::start()
{
    // Centred with the full design height, so the compact window sits higher.
    const QSize screen = m_runtime.screenSize();
    const TwipPoint at = centredPosition(screen.width() * double(kTwipsPerPixel), screen.height() * double(kTwipsPerPixel),
                                         width() * double(kTwipsPerPixel) + frameWidthTwips(), outerHeightTwips());
    move(qRound(at.left / kTwipsPerPixel), qRound(at.top / kTwipsPerPixel));
    setOuterHeightTwips(5350);

    m_engine.start();  // ends by choosing COM1, as the COM1 option would
}

void Form1::endProgram()
{
    m_engine.end();
    close();
    m_runtime.endProgram();
}

// --- window size and place ---

int Form1::frameHeightTwips() const
{
    const QMargins frame = m_runtime.frameMargins(*this);
    const int extra = frame.top() + frame.bottom();
    return m_shown && extra > 0 ? extra * kTwipsPerPixel : kDesignFrameHeight;
}

int Form1::frameWidthTwips() const
{
    const QMargins frame = m_runtime.frameMargins(*this);
    const int extra = frame.left() + frame.right();
    return m_shown && extra > 0 ? extra * kTwipsPerPixel : 0;
}

// The frame height that the outer heights are met with: the platform's, but never
// more than the design's, so that a tall title bar does not cut off the lowest row
// (the window grows by the difference instead).
int Form1::usedFrameHeightTwips() const
{
    return std::min(frameHeightTwips(), kDesignFrameHeight);
}

int Form1::outerHeightTwips() const
{
    const int frame = usedFrameHeightTwips();
    if (twipsToPixels(m_requestedOuterHeight - frame) == height())
        return m_requestedOuterHeight;
    return height() * kTwipsPerPixel + frame;
}

void Form1::setOuterHeightTwips(int twips)
{
    m_requestedOuterHeight = twips;
    m_appliedFrameHeight = usedFrameHeightTwips();
    setFixedSize(width(), std::max(1, twipsToPixels(twips - m_appliedFrameHeight)));
    keepKeysInSight();
}

// The platform's title bar and borders become known once the window is managed:
// meet the outer height with them, and centre the window again by its real outer
// size (once; start-up could only assume the design's frame).
void Form1::followFrame()
{
    if (!m_shown)
        return;
    if (usedFrameHeightTwips() != m_appliedFrameHeight)
        setOuterHeightTwips(m_requestedOuterHeight);
    const QMargins frame = m_runtime.frameMargins(*this);
    if (m_placedInFrame || frame.isNull())
        return;
    m_placedInFrame = true;
    const double k = kTwipsPerPixel;
    const QSize screen = m_runtime.screenSize();
    // As at start-up: the width, and the full design client height, with the frame.
    const TwipPoint at = centredPosition(screen.width() * k, screen.height() * k,
                                         (width() + frame.left() + frame.right()) * k,
                                         kClientHeight + (frame.top() + frame.bottom()) * k);
    const QPoint target(qRound(at.left / k), qRound(at.top / k));
    if (pos() != target)
        move(target);
}

void Form1::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    followFrame();
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    keepKeysInSight();
    followFrame();
}

void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    followFrame();
    if (!m_pendingWarning.isEmpty())
        QMetaObject::invokeMethod(this, &Form1::showPendingWarning, Qt::QueuedConnection);
}

bool Form1::liesInSight(const QWidget *control) const
{
    if (!control || !isAncestorOf(control))
        return false;
    for (const QWidget *w = control; w != this; w = w->parentWidget())
        if (!w->parentWidget()->rect().contains(w->geometry()))
            return false;
    return true;
}

// A control outside the visible client area takes no focus (so no keys), and Tab
// passes over it; the focus leaves a control that drops out of sight for the first
// stop in sight. The data button is the exception: below the compact window's edge
// it stays a tab stop, the only way to the data height (it sends nothing).
void Form1::keepKeysInSight()
{
    for (const auto &[w, policy] : std::as_const(m_tabStops))
        w->setFocusPolicy(w == dataAreaButton || liesInSight(w) ? policy : Qt::NoFocus);
    QWidget *focus = focusWidget();
    if (!focus || focus == this || focus->focusPolicy() != Qt::NoFocus)
        return;
    for (const auto &[w, policy] : std::as_const(m_tabStops))
        if (w->focusPolicy() != Qt::NoFocus && w->isVisibleTo(this)) {
            w->setFocus(Qt::OtherFocusReason);
            return;
        }
}

void Form1::hideEvent(QHideEvent *event)
{
    endHeldKeys();
    QWidget::hideEvent(event);
}

void Form1::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        endHeldKeys();
    QWidget::changeEvent(event);
}

// A held key whose release can no longer arrive stops as if released.
void Form1::endHeldKeys()
{
    for (const keys::Command &k : keys::kCommands)
        if (auto *b = qobject_cast<PanelButton *>(control(QString::fromLatin1(k.control.data(), qsizetype(k.control.size()))));
            k.repeats() && b && b->isHeld())
            b->cancelHold();
}

// --- warnings ---

void Form1::warn(const QString &text)
{
    endHeldKeys();
    if (!m_shown) {
        // Not on screen yet: tell the operator once, over the window, when it is.
        if (m_pendingWarning.isEmpty())
            m_pendingWarning = text;
        return;
    }
    m_runtime.showWarning(this, text);
}

void Form1::showPendingWarning()
{
    const QString text = std::exchange(m_pendingWarning, QString());
    if (!text.isEmpty())
        m_runtime.showWarning(this, text);
}

// --- key preview and drawing ---

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        // Only the first delivery: to the focused control (or the window itself);
        // a key that the control passes on to its parents is not seen twice.
        QWidget *focus = QApplication::focusWidget();
        QObject *first = focus && (focus == this || isAncestorOf(focus)) ? static_cast<QObject *>(focus) : this;
        if (watched == first) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const Qt::KeyboardModifiers m = key->modifiers();
            const int shift = (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) | (m & Qt::AltModifier ? 4 : 0);
            keyPreview(key->key(), shift);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    // The outline of the cursor pad, beneath every control.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor::fromRgb(QRgb(0xFF000000u | kLineColour)), kLineWidthPx, Qt::SolidLine, Qt::SquareCap));
    for (const LineSpec &l : kLines)
        p.drawLine(QPointF(l.x1, l.y1) / kTwipsPerPixel, QPointF(l.x2, l.y2) / kTwipsPerPixel);
}

void Form1::setLine(PanelLabel *line, const QString &caption)
{
    line->setCaption(caption);
}
