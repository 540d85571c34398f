// The network link to a serial device server (tcp://HOST:PORT) under the exchange
// engine, against a listener on 127.0.0.1 that plays the device server.

#include "TestSupport.h"
#include "exchange/ExchangeEngine.h"
#include "serial/QtSerialControl.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

constexpr int kWait = 5000;

QString address(quint16 port)
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(port);
}

// The device server: talks to its latest connection.
struct Listener {
    QTcpServer server;
    QPointer<QTcpSocket> client;

    Listener()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] { client = server.nextPendingConnection(); });
    }
    QString path() const { return address(server.serverPort()); }
    // The next `count` bytes the latest connection received.
    QByteArray take(qsizetype count)
    {
        [&] { QTRY_VERIFY_WITH_TIMEOUT(client && client->bytesAvailable() >= count, kWait); }();
        return client ? client->read(count) : QByteArray();
    }
};

// The engine on the real serial control, started as the program starts it.
struct Panel {
    QtSerialControl serial;
    ExchangeEngine engine{serial};
    QStringList warnings;
    QList<int> portsInUse;
    QString received;

    explicit Panel(QMap<int, QString> devices) : serial(std::move(devices))
    {
        QObject::connect(&engine, &ExchangeEngine::warning, [this](const QString &text) { warnings << text; });
        QObject::connect(&engine, &ExchangeEngine::portInUse, [this](int port) { portsInUse << port; });
        QObject::connect(&engine, &ExchangeEngine::received, [this](const QString &chunk) { received += chunk; });
        engine.start();
    }
    QString status() const { return engine.line(ExchangeEngine::Line::Status); }
};

} // namespace

class TstTcp : public QObject {
    Q_OBJECT
private slots:
    // Every byte value goes out and comes in as one character, as on a serial port.
    void exchangeBytesExact()
    {
        Listener device;
        Panel p({{1, device.path()}});
        p.engine.send(QString::fromLatin1("C\xE9\xFF"));
        QCOMPARE(device.take(4), QByteArray("C\xE9\xFF\r"));
        device.client->write(QByteArray("\x80\xFF\x00\r", 4));
        QTRY_COMPARE_WITH_TIMEOUT(p.received, QString::fromLatin1("\x80\xFF\x00\r", 4), kWait);
        QVERIFY(p.warnings.isEmpty());
        QCOMPARE(p.portsInUse, QList<int>{1});
    }

    // A malformed address fails at once and the port that was open is opened again;
    // a refused connection fails in the background and leaves no port in use.
    void unusableAddress_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("warning");  // %1: the path
        QTest::addColumn<int>("inUse");        // 0: failed in the background
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        QTest::newRow("refused") << address(closed.serverPort()) << "Connection refused: %1" << 0;
        for (const char *bad : {"tcp://127.0.0.1", "tcp://127.0.0.1:0", "tcp://127.0.0.1:70000", "tcp://127.0.0.1:4001/x",
                                "tcp://127.0.0.1:4001?x", "tcp://127.0.0.1:4001#x", "tcp://me@127.0.0.1:4001"})
            QTest::newRow(bad) << bad << "Not a network address: %1" << 1;
    }
    void unusableAddress()
    {
        QFETCH(QString, path);
        QFETCH(QString, warning);
        QFETCH(int, inUse);
        Listener device;
        Panel p({{1, device.path()}, {2, path}});
        QCOMPARE(p.engine.choosePort(2), inUse == 0);
        QCOMPARE(p.warnings.size(), inUse);
        QTRY_COMPARE_WITH_TIMEOUT(p.warnings.size(), 1, kWait);
        QCOMPARE(p.warnings.first().section(u'\n', 0, 0), warning.arg(path));
        QVERIFY2(p.warnings.first().contains(QLatin1String("--com2")), qPrintable(p.warnings.first()));
        QCOMPARE(p.portsInUse.last(), inUse);
        QCOMPARE(p.serial.portOpen(), inUse != 0);
    }

    // A host that does not answer: the listener's queue of connections is full, so
    // the system drops further requests unanswered. The link gives up on its own.
    void unansweredConnectionGivesUp()
    {
        QTcpServer full;
        full.setListenBacklogSize(0);
        QVERIFY(full.listen(QHostAddress::LocalHost, 0));
        full.pauseAccepting();
        QTcpSocket filler;
        filler.connectToHost(QHostAddress::LocalHost, full.serverPort());
        QVERIFY(filler.waitForConnected(kWait));
        Panel p({{1, address(full.serverPort())}});
        QTRY_COMPARE_WITH_TIMEOUT(p.warnings.size(), 1, 15000);
        QCOMPARE(p.warnings.first().section(u'\n', 0, 0), "No answer within 3 s: " + address(full.serverPort()));
        QCOMPARE(p.portsInUse.last(), 0);
        QVERIFY(!p.serial.portOpen());
    }

    // The device server drops the connection: one notice, no port in use; a port
    // choice connects again and the exchange goes on.
    void droppedConnectionThenReconnect()
    {
        Listener device;
        Panel p({{1, device.path()}});
        QSignalSpy lost(&p.serial, &SerialControl::portLost);
        p.engine.send(QStringLiteral("CR0"));
        QCOMPARE(device.take(4), QByteArray("CR0\r"));
        device.client->disconnectFromHost();
        QVERIFY(lost.wait(kWait));
        QVERIFY(!lost.wait(200));
        QCOMPARE(p.warnings, QStringList{QStringLiteral("The serial port stopped working and was closed.\nThe device server closed the "
                                                        "connection: %1\n\nChoose COM1 or COM2 (COM button) to open it again.").arg(device.path())});
        tick(p.engine.replyTimer);
        QVERIFY(p.engine.choosePort(1));
        p.engine.send(QStringLiteral("CR0"));
        QCOMPARE(device.take(4), QByteArray("CR0\r"));
        QCOMPARE(p.portsInUse, (QList<int>{1, 0}));
    }

    // A speed choice on a network link changes nothing on the line: the status line
    // says so until the display hold clears it.
    void speedChoiceOnLinkIsANotice()
    {
        Listener device;
        Panel p({{1, device.path()}});
        p.engine.chooseSpeed(QStringLiteral("9600,N,8,1"));
        QCOMPARE(p.status(), QStringLiteral(" Speed is set by the device server (%1)").arg(device.path()));
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));
        QVERIFY(p.warnings.isEmpty());
        tick(p.engine.displayHoldTimer);
        QCOMPARE(p.status(), QString());
    }
};

QTEST_GUILESS_MAIN(TstTcp)
#include "tst_tcp.moc"
