#pragma once
// The panel window: its controls (built from the layout table), the panel state,
// the five timers and the event handlers. It talks to the projector only through
// the serial control it is given, and to the desktop through the window runtime.

#include "PanelState.h"

#include <QHash>
#include <QTimer>
#include <QWidget>

class SerialControl;
struct SerialError;
class WindowRuntime;
class PanelButton;
class PanelLabel;
class QRadioButton;
class QLineEdit;
class QFrame;
class WordMarkImage;
namespace keys {
struct OneShot;
struct RepeatKey;
}

class Form1 final : public QWidget {
    Q_OBJECT
public:
    Form1(SerialControl &comm, WindowRuntime &runtime, QWidget *parent = nullptr);
    ~Form1() override;

    // Runs once, before the window is first shown.
    void Form_Load();

    const PanelState &state() const { return m_state; }

    // The window's outer height in twips (title bar and borders included), and
    // setting it; the width stays fixed. Under a title bar taller than the design's
    // the client area keeps the design's height for the outer height set, so the
    // real window is taller than this by the difference.
    int outerHeightTwips() const;
    void setOuterHeightTwips(int twips);
    // The title bar and borders, in twips: the platform's once the window is on
    // screen and they are known, else the design's.
    int frameHeightTwips() const;
    int frameWidthTwips() const;
    // Whether the control lies wholly inside the visible client area (and inside
    // the frames that hold it).
    bool liesInSight(const QWidget *control) const;

    // Control by name (Command17, Label22, Frame8 ...).
    QWidget *control(const QString &name) const { return m_controls.value(name); }

    // The timers, by their names.
    QTimer Timer1, Timer2, Timer3, Timer4, Timer5;

    // --- handlers ---
    // Start-up and shut-down.
    void Command16_Click();
    // Data area.
    void Form_KeyDown(int keyCode, int shift);
    void Image1_DblClick();
    void Command34_Click();
    // Port and speed.
    void Command33_Click();
    void Timer3_Timer();
    void Option1_Click() { portChoice(1, 2); }
    void Option2_Click() { portChoice(2, 1); }
    void Option9_Click() { speedChoice(QStringLiteral("19200,N,8,1")); }
    void Option10_Click() { speedChoice(QStringLiteral("9600,N,8,1")); }
    // Exchange engine.
    void Hyouji(const QString &text, quint8 mode);
    void MSComm1_OnComm();
    void Timer2_Timer();
    void Timer4_Timer();
    // Keys.
    void CommandButton_Click(const keys::OneShot &button);
    void RepeatKey_MouseDown(const keys::RepeatKey &key);
    void RepeatKey_MouseUp(const keys::RepeatKey &key);
    void Timer1_Timer();
    void Command95_Click();
    void Command96_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void connectHandlers();
    void portChoice(int port, int fallback);
    void speedChoice(const QString &settings);
    void portLost(const SerialError &error);
    void warn(const QString &text);
    void showPendingWarning();
    void setLine(PanelLabel *line, const QString &caption);
    void emptyRxText();
    QString receiveTrace(const QString &text);
    void endHeldKeys();
    int usedFrameHeightTwips() const;
    void followFrame();
    void keepKeysInSight();
    void send(const QString &code);

    SerialControl &MSComm1;
    WindowRuntime &m_runtime;
    PanelState m_state;
    QHash<QString, QWidget *> m_controls;

    // Controls the handlers use.
    PanelLabel *Label11 = nullptr;  // TXD line
    PanelLabel *Label12 = nullptr;  // RXD line
    PanelLabel *Label22 = nullptr;  // status line
    QFrame *Frame8 = nullptr;
    PanelButton *Command34 = nullptr;
    QRadioButton *Option1 = nullptr, *Option2 = nullptr, *Option9 = nullptr, *Option10 = nullptr;
    QLineEdit *Text1 = nullptr;

    // The RXD trace of RxText, extended chunk by chunk as RxText grows.
    QString m_rxTrace = QStringLiteral(" ");
    qsizetype m_rxTracedChars = 0;

    int m_requestedOuterHeight = 0;  // twips, as last set
    int m_appliedFrameHeight = 0;    // the frame height it was applied with
    bool m_shown = false;
    bool m_placedInFrame = false;    // centred again once the real frame was known
    // The controls that can take the focus, in tab order, with their own focus policy
    // (taken away while they lie outside the visible client area).
    QList<std::pair<QWidget *, Qt::FocusPolicy>> m_tabStops;
    QString m_pendingWarning;        // a warning raised before the window was on screen
};
