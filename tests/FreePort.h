#pragma once
// A loopback port nobody listens on now (for a program that takes a port number, not 0).

#include <QHostAddress>
#include <QTcpServer>

inline quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}
