// The port frame: the COM button shows it, the port-frame timer hides it, and the
// options choose the port (COM1/COM2) and the speed (19200/9600).

#include "panel/Form1.h"
#include "serial/SerialControl.h"

#include <QButtonGroup>
#include <QFrame>
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
void showPortInUse(QRadioButton *com1, QRadioButton *com2, QRadioButton *selected)
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

// Closes the port and opens it on `port`. A choice ends with the chosen port open,
// or with the warning box; after a failure the port that was open before is
// opened again and the options show the port actually in use.
void Form1::portChoice(int port, int fallback)
{
    SerialResult error;
    auto remember = [&error](SerialResult e) {
        if (e && !error)
            error = std::move(e);
    };
    bool wasOpen = false;
    if (MSComm1.portOpen()) {
        remember(MSComm1.setPortOpen(false));
        wasOpen = true;
    }
    remember(MSComm1.setCommPort(port));
    if (!error)
        remember(MSComm1.setPortOpen(true));  // also when it was closed: a choice opens the port
    if (!error) {
        Frame8->setVisible(false);
        return;
    }

    warn(error->description);
    MSComm1.setCommPort(fallback);
    QRadioButton *inUse = nullptr;
    if (wasOpen) {
        if (const SerialResult again = MSComm1.setPortOpen(true))
            warn(again->description);
        else
            inUse = fallback == 1 ? Option1 : Option2;
    }
    showPortInUse(Option1, Option2, inUse);
}

void Form1::speedChoice(const QString &settings)
{
    m_state.CommSettings = settings;
    if (const SerialResult failed = MSComm1.setSettings(m_state.CommSettings))
        warn(failed->description);
    Frame8->setVisible(false);
}

// The open port failed for good (adapter pulled out, line hung up): it is closed
// now. Tell the operator once; a port choice opens it again.
void Form1::portLost(const SerialError &error)
{
    showPortInUse(Option1, Option2, nullptr);
    warn(QStringLiteral("The serial port stopped working and was closed.\n%1\n\nChoose COM1 or COM2 (COM button) to open it again.")
             .arg(error.description));
}
