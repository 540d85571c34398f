// The port frame: the COM button shows it, the port-frame timer hides it, and the
// options choose the port (COM1/COM2) and the speed (19200/9600) through the
// engine. Also the manual entry box's SEND and CLS.

#include "Form1.h"
#include "Widgets.h"

#include <QButtonGroup>
#include <QFrame>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>

void Form1::showPortFrame()
{
    portFrame->setVisible(true);
    portFrameTimer.start();
}

void Form1::hidePortFrame()
{
    portFrame->setVisible(false);
    portFrameTimer.stop();
}

namespace {

// Shows `selected` (or no option, for nullptr) without running a handler.
void showOptionInUse(QRadioButton *com1, QRadioButton *com2, QRadioButton *selected)
{
    const QSignalBlocker b1(com1), b2(com2);
    QButtonGroup *group = com1->group();  // exclusive: only off while both may be cleared
    if (group)
        group->setExclusive(false);
    com1->setChecked(com1 == selected);
    com2->setChecked(com2 == selected);
    if (group)
        group->setExclusive(true);
}

} // namespace

// The option of the port in use (1, 2; 0: none), as the engine reports it after a
// failed choice, a lost port or start-up.
void Form1::showPortInUse(int port)
{
    showOptionInUse(com1Option, com2Option, port == 1 ? com1Option : port == 2 ? com2Option : nullptr);
}

// A choice that opened the port closes the frame; a failed one leaves it open.
void Form1::portChoice(int port)
{
    if (m_engine.choosePort(port))
        portFrame->setVisible(false);
}

void Form1::speedChoice(const QString &settings)
{
    m_engine.chooseSpeed(settings);
    portFrame->setVisible(false);
}

void Form1::showLine(ExchangeEngine::Line line, const QString &text)
{
    setLine(line == ExchangeEngine::Line::Txd ? txdLine : line == ExchangeEngine::Line::Rxd ? rxdLine : statusLine, text);
}

void Form1::sendManualEntry()
{
    m_engine.send(manualEntryBox->text());
}

void Form1::clearManualEntry()
{
    manualEntryBox->clear();
}
