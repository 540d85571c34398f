#pragma once
// The panel window: its controls (built from the layout table), routed by name to
// the exchange engine it owns, the lines and warnings the engine reports, the port
// frame, the heights and the data area. It talks to the projector only through the
// engine (on the serial control it is given), and to the desktop through the window
// runtime.

#include "exchange/ExchangeEngine.h"

#include <QHash>
#include <QTimer>
#include <QWidget>

class ExchangeLog;
class SerialControl;
class WindowRuntime;
class PanelButton;
class PanelLabel;
class QRadioButton;
class QLineEdit;
class QFrame;
class WordMarkImage;

class Form1 final : public QWidget {
    Q_OBJECT
public:
    // With a `log`, the exchange log hears every event of the engine before the
    // window does: a warning is logged when it arises, before its box is shown.
    Form1(SerialControl &comm, WindowRuntime &runtime, ExchangeLog *log = nullptr, QWidget *parent = nullptr);
    ~Form1() override;

    // Runs once, before the window is first shown.
    void start();

    ExchangeEngine &engine() { return m_engine; }
    const ExchangeEngine &engine() const { return m_engine; }
    const PanelState &state() const { return m_engine.state(); }
    // 1 while a double-click on the word mark opens the full window.
    qint16 dataAreaFlag() const { return m_dataAreaFlag; }

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

    // The window's timers: Timer3 and Timer5 of the layout table (the engine owns
    // Timer1, Timer2 and Timer4).
    QTimer portFrameTimer;  // hides the port frame
    QTimer unusedTimer;     // never started

    // --- handlers ---
    // Start-up and shut-down (END, Command16).
    void endProgram();
    // Data area: Ctrl+H, the word mark (Image1), the data button (Command34).
    void keyPreview(int keyCode, int shift);
    void wordMarkDoubleClicked();
    void toggleDataArea();
    // Port and speed: the COM button (Command33), the options Option1/2 and 9/10.
    void showPortFrame();
    void hidePortFrame();
    void chooseCom1() { portChoice(1); }
    void chooseCom2() { portChoice(2); }
    void choose19200() { speedChoice(QStringLiteral("19200,N,8,1")); }
    void choose9600() { speedChoice(QStringLiteral("9600,N,8,1")); }
    // Manual entry: SEND (Command95) and CLS (Command96) of the box Text1.
    void sendManualEntry();
    void clearManualEntry();

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
    void portChoice(int port);
    void speedChoice(const QString &settings);
    void showPortInUse(int port);
    void showLine(ExchangeEngine::Line line, const QString &text);
    void warn(const QString &text);
    void showPendingWarning();
    void setLine(PanelLabel *line, const QString &caption);
    void endHeldKeys();
    int usedFrameHeightTwips() const;
    void followFrame();
    void keepKeysInSight();

    WindowRuntime &m_runtime;
    ExchangeEngine m_engine;
    QHash<QString, QWidget *> m_controls;
    qint16 m_dataAreaFlag = 0;

    // Controls the handlers use.
    PanelLabel *txdLine = nullptr;               // Label11
    PanelLabel *rxdLine = nullptr;               // Label12
    PanelLabel *statusLine = nullptr;            // Label22
    QFrame *portFrame = nullptr;                 // Frame8
    PanelButton *dataAreaButton = nullptr;       // Command34
    QRadioButton *com1Option = nullptr;          // Option1
    QRadioButton *com2Option = nullptr;          // Option2
    QRadioButton *speed19200Option = nullptr;    // Option9
    QRadioButton *speed9600Option = nullptr;     // Option10
    QLineEdit *manualEntryBox = nullptr;         // Text1

    int m_requestedOuterHeight = 0;  // twips, as last set
    int m_appliedFrameHeight = 0;    // the frame height it was applied with
    bool m_shown = false;
    bool m_placedInFrame = false;    // centred again once the real frame was known
    // The controls that can take the focus, in tab order, with their own focus policy
    // (taken away while they lie outside the visible client area).
    QList<std::pair<QWidget *, Qt::FocusPolicy>> m_tabStops;
    QString m_pendingWarning;        // a warning raised before the window was on screen
};
