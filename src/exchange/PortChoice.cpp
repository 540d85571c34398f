// The choice of port (COM1/COM2) and speed (19200/9600), and the port lost while open.

#include "exchange/ExchangeEngine.h"
#include "serial/SerialControl.h"

// Closes the port and opens it on `port`. A choice ends with the chosen port open,
// or with the warning; after a failure the port that was open before is opened
// again (the other one) and portInUse tells which option shows the port actually in use.
bool ExchangeEngine::choosePort(int port)
{
    const int fallback = port == 1 ? 2 : 1;
    SerialResult error;
    auto remember = [&error](SerialResult e) {
        if (e && !error)
            error = std::move(e);
    };
    bool wasOpen = false;
    if (m_serial.portOpen()) {
        remember(m_serial.setPortOpen(false));
        wasOpen = true;
    }
    remember(m_serial.setCommPort(port));
    if (!error)
        remember(m_serial.setPortOpen(true));  // also when it was closed: a choice opens the port
    if (!error)
        return true;

    emit warning(error->description);
    m_serial.setCommPort(fallback);
    int inUse = 0;
    if (wasOpen) {
        if (const SerialResult again = m_serial.setPortOpen(true))
            emit warning(again->description);
        else
            inUse = fallback;
    }
    emit portInUse(inUse);
    return false;
}

void ExchangeEngine::chooseSpeed(const QString &settings)
{
    m_state.commSettings = settings;
    if (const SerialResult failed = m_serial.setSettings(m_state.commSettings))
        emit warning(failed->description);
}

// The open port failed for good (adapter pulled out, line hung up): it is closed
// now. Tell the operator once; a port choice opens it again.
void ExchangeEngine::onPortLost(const SerialError &error)
{
    emit portInUse(0);
    emit warning(QStringLiteral("The serial port stopped working and was closed.\n%1\n\nChoose COM1 or COM2 (COM button) to open it again.")
                     .arg(error.description));
}
