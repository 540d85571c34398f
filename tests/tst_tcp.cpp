// The network link to a serial device server (tcp://HOST:PORT) under the exchange
// engine, against a listener on 127.0.0.1 that plays the device server.

#include "EngineHarness.h"
#include "ReferenceRows.h"
#include "serial/QtSerialControl.h"
#include "serial/TcpLink.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <sys/socket.h>

namespace {

constexpr int kWait = 5000;

// The device server: talks to its latest connection.
struct Listener {
    QTcpServer server;
    QPointer<QTcpSocket> client;
    int connections = 0;  // accepted so far

    Listener()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (server.hasPendingConnections()) {
                client = server.nextPendingConnection();
                ++connections;
            }
        });
    }
    QString path() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort()); }
    // The next `count` bytes the latest connection received.
    QByteArray take(qsizetype count)
    {
        [&] { QTRY_VERIFY_WITH_TIMEOUT(client && client->bytesAvailable() >= count, kWait); }();
        return client ? client->read(count) : QByteArray();
    }
};

// The engine on the real serial control with these devices, started as the program starts it.
using Devices = QMap<int, QString>;
using Panel = EngineOn<QtSerialControl>;

} // namespace

class TstTcp : public QObject {
    Q_OBJECT
private slots:
    // A malformed address fails at once and the port that was open is opened again;
    // a connection refused or unanswered fails in the background and leaves no port
    // in use (tests/reference/tcp_addresses.rows). Unanswered: the listener's queue is
    // full, so the system drops requests.
    void unusableAddress_data()
    {
        m_full.setListenBacklogSize(0);
        m_full.listen(QHostAddress::LocalHost, 0);
        m_full.pauseAccepting();
        m_filler.connectToHost(QHostAddress::LocalHost, m_full.serverPort());
        QVERIFY(m_filler.waitForConnected(kWait));
        addReferenceRows("tcp_addresses.rows");
    }
    void unusableAddress()
    {
        QFETCH(QJsonArray, row);
        const QString path = row[1].toString().replace(QLatin1String("FULL"), QString::number(m_full.serverPort()));
        const QString warning = row[2].toString();
        const int inUse = row[3].toInt();
        Listener device;
        Panel p(true, Devices{{1, device.path()}, {2, path}}, panelWording());
        QCOMPARE(p.engine.choosePort(2), inUse == 0);
        QCOMPARE(p.warnings.size(), inUse);
        QTRY_COMPARE_WITH_TIMEOUT(p.warnings.size(), 1, 15000);
        QCOMPARE(p.warnings.first().left(warning.arg(path).size()), warning.arg(path));
        QVERIFY2(p.warnings.first().contains(QLatin1String("--com2")), qPrintable(p.warnings.first()));
        QCOMPARE(p.portsInUse.last(), inUse);
        QCOMPARE(p.serial.portOpen(), inUse != 0);
    }

    // The start-up opens, closes and opens the port in one go: the device server
    // sees one connection, the one the command goes out on, closed at END. By a host
    // name that resolves (localhost: ::1, where nothing listens, then 127.0.0.1); an
    // address, which needs no lookup, the other tests here use. A speed choice changes
    // nothing on the line (the status line says so until the display hold clears it);
    // every byte value goes out and comes in as one character.
    void session()
    {
        Listener device;
        const QString path = QStringLiteral("tcp://localhost:%1").arg(device.server.serverPort());
        Panel p(true, Devices{{1, path}}, panelWording());
        p.engine.send(QStringLiteral("CR0"));
        QCOMPARE(device.take(4), QByteArray("CR0\r"));
        QCOMPARE(device.connections, 1);
        QCOMPARE(p.warnings, QStringList());
        QCOMPARE(p.portsInUse, QList<int>{1});
        p.engine.chooseSpeed(QStringLiteral("9600,N,8,1"));
        QCOMPARE(p.status(), " Speed is set by the device server (" + path + ')');
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));
        fire(p.engine, "displayHold");
        QCOMPARE(p.status(), QString());
        QVERIFY(!p.serial.output(QString::fromLatin1("C\xE9\xFF\r")));
        QCOMPARE(device.take(4), QByteArray("C\xE9\xFF\r"));
        device.client->write(QByteArray("\x80\xFF\x00\r", 4));
        QTRY_COMPARE_WITH_TIMEOUT(p.received, QString::fromLatin1("\x80\xFF\x00\r", 4), kWait);
        p.engine.end();
        QTRY_COMPARE_WITH_TIMEOUT(device.client->state(), QAbstractSocket::UnconnectedState, kWait);
    }

    // A write larger than the socket takes at once goes out whole and in order, to a
    // device server that reads slowly (small receive buffers): the bytes written
    // while connecting first, the rest of each partial send before later writes.
    void largeWrite()
    {
        Listener device;
        const int small = 4096;
        QVERIFY(::setsockopt(int(device.server.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &small, sizeof small) == 0);
        TcpLink link(device.path());
        QVERIFY(!link.setPortOpen(true));
        QVERIFY(!link.output("head"));
        QTRY_VERIFY_WITH_TIMEOUT(device.client, kWait);
        device.client->setReadBufferSize(small);
        QByteArray received;
        QObject::connect(device.client, &QTcpSocket::readyRead, [&] { received += device.client->readAll(); });
        QByteArray block(4 << 20, Qt::Uninitialized);
        for (int i = 0; i < block.size(); ++i)
            block[i] = char(i % 251);
        QVERIFY(!link.output(QString::fromLatin1(block)));
        QVERIFY(!link.output("tail"));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 4 + (4 << 20) + 4, 30000);
        QVERIFY(received == "head" + block + "tail");
        QVERIFY(link.portOpen());
    }

    // The device server closes the connection: the link is lost, once, and its socket
    // closed. Idle, in its words. Written to after: the first write meets a closed
    // socket (the server answers with a reset), the next a broken pipe. That is a lost
    // link, not SIGPIPE, which ends the program by default (orva-ctl keeps the
    // default). Which of the three the link meets first depends on when the close
    // reaches it. Started without stdin, as a service may be, the socket is descriptor 0.
    void serverCloses_data()
    {
        QTest::addColumn<bool>("writing");
        QTest::newRow("idle") << false;
        QTest::newRow("written to after") << true;
    }
    void serverCloses()
    {
        QFETCH(bool, writing);
        std::signal(SIGPIPE, SIG_DFL);
        Listener device;
        const int savedStdin = ::dup(0);
        ::close(0);
        const int before = openDescriptors();
        TcpLink link(device.path());
        QSignalSpy lost(&link, &SerialControl::portLost);
        QVERIFY(!link.setPortOpen(true));
        QVERIFY(!link.output("CR0\r"));
        QCOMPARE(device.take(4), QByteArray("CR0\r"));
        device.client->close();
        QVERIFY(!writing || (!link.output("CR1\r") && !link.output("CR2\r")));
        QVERIFY(lost.wait(kWait));
        QVERIFY(!lost.wait(200));
        const QString said = lost.first().first().value<SerialError>().description, first = said.section(u'\n', 0, 0);
        QVERIFY2(writing || said == "The device server closed the connection: " + device.path(), qPrintable(said));
        const QStringList reasons{QStringLiteral("Broken pipe"), QStringLiteral("Connection reset by peer"),
                                  QStringLiteral("The device server closed the connection")};
        QVERIFY2(reasons.contains(first.section(QStringLiteral(": "), 0, 0)) && first.endsWith(": " + device.path()), qPrintable(first));
        QVERIFY(!link.portOpen());
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), before, kWait);
        ::dup2(savedStdin, 0);
        ::close(savedStdin);
    }

    // A link destroyed while its host name is looked up: the answer, when it comes,
    // goes nowhere. A lookup of the same name started after it answering means
    // that the first one's has come too.
    void destroyedWhileLookingUp()
    {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        const QString path = QStringLiteral("tcp://localhost:%1").arg(closed.serverPort());
        closed.close();
        const int before = openDescriptors();
        auto *gone = new TcpLink(path);
        QVERIFY(!gone->setPortOpen(true));
        delete gone;
        TcpLink link(path);
        QSignalSpy failed(&link, &SerialControl::openFailed);
        QVERIFY(!link.setPortOpen(true));
        QVERIFY(failed.wait(kWait));
        QCOMPARE(failed.first().first().value<SerialError>().description.section(u'\n', 0, 0), "Connection refused: " + path);
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), before, kWait);  // the refused connection's socket is closed
    }

private:
    QTcpServer m_full;  // answers no connection request
    QTcpSocket m_filler;
};

QTEST_GUILESS_MAIN(TstTcp)
#include "tst_tcp.moc"
