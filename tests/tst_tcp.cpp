// The network link to a serial device server (tcp://HOST:PORT) under the exchange
// engine: against a listener on 127.0.0.1 that plays the device server, and against
// orva-sim's TCP mode. No window, no Qt Widgets.

#include "TestSupport.h"
#include "exchange/ExchangeEngine.h"
#include "serial/QtSerialControl.h"

#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr int kWait = 5000;

QString address(quint16 port)
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(port);
}

// A port number on 127.0.0.1 that nothing listens on.
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// The device server: listens on 127.0.0.1 only and talks to its latest connection.
struct Listener {
    QTcpServer server;
    QPointer<QTcpSocket> client;
    int connections = 0;

    Listener()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                client = s;
                ++connections;
            }
        });
    }
    QString path() const { return address(server.serverPort()); }
    // The next `count` bytes the latest connection received.
    QByteArray take(qsizetype count)
    {
        [&] { QTRY_VERIFY_WITH_TIMEOUT(client && client->bytesAvailable() >= count, kWait); }();
        return client ? client->read(count) : QByteArray();
    }
    void reply(const QByteArray &bytes)
    {
        QVERIFY(client);
        client->write(bytes);
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
    // Waits until the reply window of the last command has ended.
    void awaitReplyWindow()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!engine.replyTimer.isActive(), kWait);
    }
};

QString firstLine(const QString &text)
{
    return text.section(u'\n', 0, 0);
}

} // namespace

class TstTcp : public QObject {
    Q_OBJECT
private slots:
    // Commands go out and replies come in byte for byte, every byte value one
    // character, as on a serial port.
    void exchangeBytesExact_data()
    {
        QTest::addColumn<QString>("button");  // or manual text, starting with "="
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("status");
        QTest::newRow("STATUS, power on") << "Command44" << QByteArray("CR0\r") << QByteArray("00\r") << "00\r" << " Power ON";
        QTest::newRow("POWER ON, ACK") << "Command17" << QByteArray("C00\r") << QByteArray("\x06") << "\x06" << "";
        QTest::newRow("manual, high bytes") << QString::fromLatin1("=C\xE9\xFF") << QByteArray("C\xE9\xFF\r")
                                            << QByteArray("\x80\xFF\x00\r", 4) << QString::fromLatin1("\x80\xFF\x00\r", 4) << "";
    }
    void exchangeBytesExact()
    {
        QFETCH(QString, button);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        QFETCH(QString, received);
        QFETCH(QString, status);
        Listener device;
        Panel p({{1, device.path()}});
        if (button.startsWith(u'='))
            p.engine.send(button.mid(1));
        else
            QVERIFY(p.engine.click(button));
        QCOMPARE(device.take(sent.size()), sent);
        device.reply(reply);
        QTRY_COMPARE_WITH_TIMEOUT(p.received, received, kWait);
        QCOMPARE(p.status(), status);
        QVERIFY(p.warnings.isEmpty());
        QCOMPARE(p.portsInUse, QList<int>{1});
    }

    // An address that cannot be used: the port choice warns with the address first,
    // and no option shows a port it does not have. A malformed address fails at
    // once (the port that was open is opened again); a connection that cannot be
    // made fails in the background, the choice itself never waits for the network.
    void unusableAddress_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("firstLine");  // %1: the path
        QTest::addColumn<bool>("atOnce");
        QTest::addColumn<int>("inUse");
        const QString refused = address(closedPort());
        QTest::newRow("refused") << refused << "Connection refused: %1" << false << 0;
        QTest::newRow("no port number") << "tcp://127.0.0.1" << "Not a network address: %1" << true << 1;
        QTest::newRow("port out of range") << "tcp://127.0.0.1:70000" << "Not a network address: %1" << true << 1;
    }
    void unusableAddress()
    {
        QFETCH(QString, path);
        QFETCH(QString, firstLine);
        QFETCH(bool, atOnce);
        QFETCH(int, inUse);
        Listener device;
        Panel p({{1, device.path()}, {2, path}});
        QVERIFY(p.warnings.isEmpty());
        QCOMPARE(p.engine.choosePort(2), !atOnce);
        QCOMPARE(p.warnings.size(), atOnce ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(p.warnings.size(), 1, kWait);
        QCOMPARE(::firstLine(p.warnings.first()), firstLine.arg(path));
        QVERIFY2(p.warnings.first().contains(QLatin1String("--com2")), qPrintable(p.warnings.first()));
        QCOMPARE(p.portsInUse.last(), inUse);
        QCOMPARE(p.serial.portOpen(), inUse != 0);
        if (inUse == 0) {
            // Nothing goes out, and the status line says why.
            QVERIFY(p.engine.click(QStringLiteral("Command44")));
            QCOMPARE(p.status(), QStringLiteral(" Not sent: Port is not open"));
        }
    }

    // A host that does not answer: a listener whose queue of connections is full,
    // so that the system drops further connection requests unanswered. The link
    // gives up on its own, with the same kind of notice.
    void unansweredConnectionGivesUp()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&sa), len) == 0 && ::listen(fd, 0) == 0);
        QVERIFY(::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0);
        const QString path = address(ntohs(sa.sin_port));
        QTcpSocket fillers[3];
        for (QTcpSocket &f : fillers)
            f.connectToHost(QHostAddress::LocalHost, ntohs(sa.sin_port));
        QTest::qWait(200);

        Panel p({{1, path}});
        QTRY_COMPARE_WITH_TIMEOUT(p.warnings.size(), 1, 15000);
        QCOMPARE(firstLine(p.warnings.first()), QStringLiteral("No answer within 3 s: %1").arg(path));
        QCOMPARE(p.portsInUse.last(), 0);
        QVERIFY(!p.serial.portOpen());
        ::close(fd);
    }

    // The device server drops the connection: one loss notice, no option in use;
    // a port choice connects again and the exchange goes on.
    void droppedConnectionThenReconnect()
    {
        Listener device;
        Panel p({{1, device.path()}});
        QSignalSpy lost(&p.serial, &SerialControl::portLost);
        QVERIFY(p.engine.click(QStringLiteral("Command44")));
        QCOMPARE(device.take(4), QByteArray("CR0\r"));
        const int connections = device.connections;
        device.client->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(p.warnings.size(), 1, kWait);
        QVERIFY2(p.warnings.first().contains(QStringLiteral("The device server closed the connection: %1").arg(device.path())),
                 qPrintable(p.warnings.first()));
        QCOMPARE(p.portsInUse.last(), 0);
        QVERIFY(!p.serial.portOpen());
        QTest::qWait(300);
        QCOMPARE(lost.size(), 1);
        QCOMPARE(p.warnings.size(), 1);

        p.awaitReplyWindow();
        QVERIFY(p.engine.choosePort(1));
        QTRY_COMPARE_WITH_TIMEOUT(device.connections, connections + 1, kWait);
        QVERIFY(p.engine.click(QStringLiteral("Command44")));
        QCOMPARE(device.take(4), QByteArray("CR0\r"));
        device.reply("80\r");
        QTRY_COMPARE_WITH_TIMEOUT(p.status(), QStringLiteral(" Stand by"), kWait);
        QCOMPARE(p.warnings.size(), 1);
    }

    // The speed choice on a network link changes nothing on the line: the status
    // line says so, once, and the display hold clears it. On a serial port the
    // choice applies as before, without the notice.
    void speedChoiceOnLinkIsANotice()
    {
        Listener device;
        Pty pty;
        Panel p({{1, device.path()}, {2, pty.path}});
        QSignalSpy lines(&p.engine, &ExchangeEngine::lineChanged);
        p.engine.chooseSpeed(QStringLiteral("9600,N,8,1"));
        const QString notice = QStringLiteral(" Speed is set by the device server (%1)").arg(device.path());
        QCOMPARE(p.status(), notice);
        int shown = 0;
        for (const QList<QVariant> &args : lines)
            shown += args.at(1).toString() == notice;
        QCOMPARE(shown, 1);
        QVERIFY(p.warnings.isEmpty());
        tick(p.engine.displayHoldTimer);
        QCOMPARE(p.status(), QString());

        QVERIFY(p.engine.choosePort(2));
        p.engine.chooseSpeed(QStringLiteral("19200,N,8,1"));
        QCOMPARE(pty.speed(), speed_t(B19200));
        p.engine.chooseSpeed(QStringLiteral("9600,N,8,1"));
        QCOMPARE(pty.speed(), speed_t(B9600));
        QCOMPARE(p.status(), QString());
        QVERIFY(p.warnings.isEmpty());
    }

    // The same against the simulated projector listening on 127.0.0.1.
    void againstOrvaSim()
    {
        QProcess help;
        help.start(QStringLiteral(ORVA_SIM_PATH), {QStringLiteral("--help")});
        QVERIFY(help.waitForFinished(kWait));
        if (!help.readAllStandardOutput().contains("--tcp"))
            QSKIP("orva-sim has no --tcp mode");

        QProcess sim;
        sim.start(QStringLiteral(ORVA_SIM_PATH), {QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--on")});
        QVERIFY(sim.waitForStarted(kWait));
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), kWait);
        const QString path = QString::fromLatin1(sim.readLine()).trimmed();
        QVERIFY2(path.startsWith(QLatin1String("tcp://127.0.0.1:")), qPrintable(path));

        Panel p({{1, path}});
        QSignalSpy sent(&p.engine, &ExchangeEngine::transmitted);
        auto query = [&p] {
            p.received.clear();
            QVERIFY(p.engine.click(QStringLiteral("Command44")));
            QTRY_COMPARE_WITH_TIMEOUT(p.received, QStringLiteral("00\r"), kWait);
            QCOMPARE(p.status(), QStringLiteral(" Power ON"));
            p.awaitReplyWindow();
        };
        query();
        QCOMPARE(sent.first().at(0).toString(), QStringLiteral("CR0\r"));
        // A port choice closes the link and connects again; the simulator takes the
        // next client.
        QVERIFY(p.engine.choosePort(1));
        query();
        QVERIFY(p.warnings.isEmpty());

        // The simulator goes away: one loss notice; a port choice then is refused.
        sim.kill();
        QVERIFY(sim.waitForFinished(kWait));
        QTRY_COMPARE_WITH_TIMEOUT(p.warnings.size(), 1, kWait);
        QCOMPARE(p.portsInUse.last(), 0);
        QVERIFY(p.engine.choosePort(1));
        QTRY_COMPARE_WITH_TIMEOUT(p.warnings.size(), 2, kWait);
        QCOMPARE(firstLine(p.warnings.last()), QStringLiteral("Connection refused: %1").arg(path));
    }
};

QTEST_GUILESS_MAIN(TstTcp)
#include "tst_tcp.moc"
