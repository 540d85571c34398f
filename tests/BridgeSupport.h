#pragma once
// What the tests of orva-bridge share: a control system's connection, a free
// port, and the orva-bridge program as a process. Needs ORVA_BRIDGE_PATH.

#include "FreePort.h"
#include "TestSupport.h"

#include <QByteArray>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <utility>

constexpr int kWait = 8000;

// A control system's connection, from `from` (the loopback takes any of 127.0.0.0/8).
struct Client {
    QTcpSocket socket;
    QByteArray greeting;
    QByteArray buffer;

    explicit Client(quint16 port, const QString &from = QStringLiteral("127.0.0.1"), bool greeted = true)
    {
        socket.bind(QHostAddress(from));
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (greeted)
            greeting = next();
    }
    // The next CR-ended line from the bridge; "<closed>" when it closed instead.
    QByteArray next()
    {
        const auto complete = [&] {
            buffer += socket.readAll();
            return buffer.contains('\r') || socket.state() == QAbstractSocket::UnconnectedState;
        };
        [&] { QTRY_VERIFY_WITH_TIMEOUT(complete(), kWait); }();
        const qsizetype cr = buffer.indexOf('\r');
        if (cr < 0)
            return std::exchange(buffer, {}) + "<closed>";
        const QByteArray line = buffer.left(cr);
        buffer.remove(0, cr + 1);
        return line;
    }
    QByteArray ask(const QByteArray &request)
    {
        socket.write(request + '\r');
        return next();
    }
};

// The orva-bridge program, up once it has logged `ready` lines "... on 127.0.0.1 port";
// with `descriptors`, it may open no more than so many (ulimit -n).
struct Service {
    QProcess process;
    QByteArray log;

    Service(const QStringList &arguments, int ready, int descriptors = 0)
    {
        if (descriptors)
            process.start(QStringLiteral("sh"), QStringList{"-c", QStringLiteral("ulimit -n %1; exec \"$0\" \"$@\"").arg(descriptors),
                                                            QStringLiteral(ORVA_BRIDGE_PATH)} + arguments);
        else
            process.start(QStringLiteral(ORVA_BRIDGE_PATH), arguments);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(said().count(" on 127.0.0.1 port ") == ready, kWait); }();
    }
    ~Service() { end(); }
    void end()
    {
        process.terminate();
        if (!process.waitForFinished(kWait))
            process.kill();
        process.waitForFinished(kWait);
    }
    // Its stderr so far.
    const QByteArray &said() { return log += process.readAllStandardError(); }
    // The same, a line each, with what it has written that the event loop has not read yet.
    QList<QByteArray> lines()
    {
        process.setReadChannel(QProcess::StandardError);
        process.waitForReadyRead(0);
        QList<QByteArray> out = said().split('\n');
        out.removeLast();  // what follows the last newline
        return out;
    }
};
