// The choice of port (COM1/COM2) and speed (19200/9600), and the port lost while open.

#include "exchange/ExchangeEngine.h"
#include "serial/SerialControl.h"

// Closes the port and opens it on `port`. A choice ends with the chosen port open
// (a network link: connecting, see onOpenFailed), or with the warning; after a
// failure the port that was open before is opened again (the other one) and
// portInUse tells which option shows the port actually in use.
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

// On a link to a serial device server the choice is kept for the serial ports but
// changes nothing on the line: the status line says so, once per choice, until the
// display hold clears it.
void ExchangeEngine::chooseSpeed(const QString &settings)
{
    m_state.commSettings = settings;
    const SerialResult failed = m_serial.setSettings(m_state.commSettings);
    if (failed && failed->number == ErrSpeedSetByServer) {
        setLine(Line::Status, QStringLiteral(" %1").arg(failed->description));
        displayHoldTimer.start();
    } else if (failed) {
        emit warning(failed->description);
    }
}

// The open port failed for good (adapter pulled out, line hung up): it is closed
// now. Tell the operator once; a port choice opens it again.
void ExchangeEngine::onPortLost(const SerialError &error)
{
    emit portInUse(0);
    emit warning(QStringLiteral("The serial port stopped working and was closed.\n%1\n\n%2")
                     .arg(error.description, error.advice));
}

// A network link could not be connected after the choice had opened it: the port
// is closed, as after a failed open, and no option shows a port in use.
void ExchangeEngine::onOpenFailed(const SerialError &error)
{
    emit portInUse(0);
    emit warning(error.description);
}
