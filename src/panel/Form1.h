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
    Form1(SerialControl &comm, WindowRuntime &runtime, QWidget *parent = nullptr);
    ~Form1() override;

    // Runs once, before the window is first shown.
    void Form_Load();

    ExchangeEngine &engine() { return m_engine; }
    const ExchangeEngine &engine() const { return m_engine; }
    const PanelState &state() const { return m_engine.state(); }
    // 1 while a double-click on the word mark opens the full window.
    qint16 dataAreaFlag() const { return m_dataAreaFlag; }

    // The window's outer height in twips (title bar and borders included), and
    // setting it; the width stays fixed.
    int outerHeightTwips() const;
    void setOuterHeightTwips(int twips);
    // The title bar and borders, in twips: the platform's once the window is on
    // screen and they are known, else the design's.
    int frameHeightTwips() const;
    int frameWidthTwips() const;

    // Control by name (Command17, Label22, Frame8 ...).
    QWidget *control(const QString &name) const { return m_controls.value(name); }

    // The window's timers, by their names (the engine owns Timer1, Timer2 and Timer4).
    QTimer Timer3, Timer5;

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
    void Option1_Click() { portChoice(1); }
    void Option2_Click() { portChoice(2); }
    void Option9_Click() { speedChoice(QStringLiteral("19200,N,8,1")); }
    void Option10_Click() { speedChoice(QStringLiteral("9600,N,8,1")); }
    // Manual entry.
    void Command95_Click();
    void Command96_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

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

    WindowRuntime &m_runtime;
    ExchangeEngine m_engine;
    QHash<QString, QWidget *> m_controls;
    qint16 m_dataAreaFlag = 0;

    // Controls the handlers use.
    PanelLabel *Label11 = nullptr;  // TXD line
    PanelLabel *Label12 = nullptr;  // RXD line
    PanelLabel *Label22 = nullptr;  // status line
    QFrame *Frame8 = nullptr;
    PanelButton *Command34 = nullptr;
    QRadioButton *Option1 = nullptr, *Option2 = nullptr, *Option9 = nullptr, *Option10 = nullptr;
    QLineEdit *Text1 = nullptr;

    int m_requestedOuterHeight = 0;  // twips, as last set
    int m_appliedFrameHeight = 0;    // the frame height it was applied with
    bool m_shown = false;
    QString m_pendingWarning;        // a warning raised before the window was on screen
};
