// The port frame: the COM button shows it, the port-frame timer hides it, and the
// options choose the port (COM1/COM2) and the speed (19200/9600) through the
// engine. Also the manual entry box's SEND and CLS.

#include "Form1.h"
#include "Widgets.h"

#include <QFrame>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>

void Form1::Command33_Click()
{
    Frame8->setVisible(true);
    Timer3.start();
}

void Form1::Timer3_Timer()
{
    Frame8->setVisible(false);
    Timer3.stop();
}

namespace {

// Shows `selected` (or no option, for nullptr) without running a handler.
void showOptionInUse(QRadioButton *com1, QRadioButton *com2, QRadioButton *selected)
{
    const QSignalBlocker b1(com1), b2(com2);
    com1->setAutoExclusive(false);
    com2->setAutoExclusive(false);
    com1->setChecked(com1 == selected);
    com2->setChecked(com2 == selected);
    com1->setAutoExclusive(true);
    com2->setAutoExclusive(true);
}

} // namespace

// The option of the port in use (1, 2; 0: none), as the engine reports it after a
// failed choice, a lost port or start-up.
void Form1::showPortInUse(int port)
{
    showOptionInUse(Option1, Option2, port == 1 ? Option1 : port == 2 ? Option2 : nullptr);
}

// A choice that opened the port closes the frame; a failed one leaves it open.
void Form1::portChoice(int port)
{
    if (m_engine.choosePort(port))
        Frame8->setVisible(false);
}

void Form1::speedChoice(const QString &settings)
{
    m_engine.chooseSpeed(settings);
    Frame8->setVisible(false);
}

void Form1::showLine(ExchangeEngine::Line line, const QString &text)
{
    setLine(line == ExchangeEngine::Line::Txd ? Label11 : line == ExchangeEngine::Line::Rxd ? Label12 : Label22, text);
}

void Form1::Command95_Click()
{
    m_engine.send(Text1->text());
}

void Form1::Command96_Click()
{
    Text1->clear();
}
