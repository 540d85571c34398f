// The bridge's PJLink class 1 listener and its queue, against orva-sim on a
// pseudo-terminal: each request's answer and the codes it put on the line.

#include "PjlinkServer.h"
#include "ProjectorQueue.h"
#include "RawServer.h"
#include "exchange/ExchangeEngine.h"
#include "serial/QtSerialControl.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

constexpr int kWait = 8000;

// orva-sim with its log: the command codes it heard, in order.
struct Simulator {
    QProcess process;
    QString path;
    QByteArray log;

    explicit Simulator(QStringList arguments)
    {
        process.start(QStringLiteral(ORVA_SIM_PATH),
                      QStringList{QStringLiteral("--log"), QStringLiteral("--exit-on-stdin-eof"), QStringLiteral("--countdown-ms"),
                                  QStringLiteral("60000"), QStringLiteral("--cooldown-ms"), QStringLiteral("60000")}
                          + arguments);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), kWait); }();
        path = QString::fromLatin1(process.readLine()).trimmed();
    }
    ~Simulator()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(kWait))
            process.kill();
    }
    // The codes heard so far.
    QStringList heard()
    {
        log += process.readAllStandardError();
        QStringList codes;
        for (const QByteArray &line : log.split('\n'))
            if (const qsizetype at = line.indexOf(" RX "); at >= 0)
                codes << QString::fromLatin1(line.mid(at + 4));
        return codes;
    }
};

// The bridge of one projector, in this process.
struct Bridge {
    bridge::ProjectorQueue queue;
    bridge::PjlinkServer server;
    bridge::RawServer raw;

    Bridge(const QString &device, bridge::PjlinkIdentity identity = {})
        : queue(device, QStringLiteral("19200,N,8,1")), server(queue, std::move(identity)), raw(queue)
    {
        queue.start();
        server.listen(QHostAddress::LocalHost, 0);
        raw.listen(QHostAddress::LocalHost, 0);
    }
    QString rawPath() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(raw.port()); }
};

// A control system's connection.
struct Client {
    QTcpSocket socket;
    QByteArray greeting;
    QByteArray buffer;

    explicit Client(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        greeting = next();
    }
    // The next CR-ended line from the bridge; "<closed>" when it closed instead.
    QByteArray next()
    {
        QObject guard;
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

} // namespace

class TstBridge : public QObject {
    Q_OBJECT
private slots:
    // Lines as they come from the network: a request, the standard's error at once,
    // or no PJLink at all (the connection closed).
    void parseLine()
    {
        using K = pjlink::Parsed::Kind;
        const struct {
            QByteArray line;
            K kind;
            QByteArray answer;  // or, for a request, command and parameter
        } rows[] = {
            {"%1POWR 1", K::Request, "POWR 1"},
            {"%1POWR ?", K::Request, "POWR ?"},
            {"%1NAME ?", K::Request, "NAME ?"},
            {"%1INPT 11", K::Request, "INPT 11"},
            {"%1powr ?", K::Answer, "%1powr=ERR1\r"},
            {"%1POWR", K::Answer, "%1POWR=ERR1\r"},
            {"%1POWR?", K::Answer, "%1POWR=ERR1\r"},
            {"%2POWR ?", K::Answer, "%2POWR=ERR1\r"},
            {"%1PO-R ?", K::Answer, "%1PO-R=ERR1\r"},
            {"POWR ?", K::Close, ""},
            {"%1PO", K::Close, ""},
            {"", K::Close, ""},
            {QByteArray("%1POWR\0?", 8), K::Close, ""},
            {"%1POWR \x80", K::Close, ""},
            {"%1NAME " + QByteArray(128, 'x'), K::Request, "NAME " + QByteArray(128, 'x')},
            {"%1NAME " + QByteArray(129, 'x'), K::Close, ""},
        };
        for (const auto &[line, kind, expected] : rows) {
            const pjlink::Parsed p = pjlink::parseLine(line);
            QVERIFY2(p.kind == kind, line.constData());
            if (kind == K::Request)
                QCOMPARE(p.request.command + ' ' + p.request.parameter, expected);
            else if (kind == K::Answer)
                QCOMPARE(p.answer, expected);
        }
    }

    // Every class 1 request in each state the simulator plays: the answer, and the
    // codes that went out on the line for it.
    void requests_data()
    {
        QTest::addColumn<QStringList>("states");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("line");
        const QStringList standby, on{"on"}, warming{"count-down"}, cooling{"on", "cooling-down"};
        const auto row = [](const char *name, QStringList states, const char *request, const char *answer, QStringList line) {
            QTest::newRow(name) << states << QByteArray(request) << QByteArray(answer) << line;
        };
        row("POWR ? standby", standby, "%1POWR ?", "%1POWR=0", {"CR0"});
        row("POWR ? on", on, "%1POWR ?", "%1POWR=1", {"CR0"});
        row("POWR ? warming", warming, "%1POWR ?", "%1POWR=3", {"CR0"});
        row("POWR ? cooling", cooling, "%1POWR ?", "%1POWR=2", {"CR0"});
        row("POWR ? power fail", {"power-fail"}, "%1POWR ?", "%1POWR=ERR4", {"CR0"});
        row("POWR ? lamp fail, standby", {"lamp-fail-standby"}, "%1POWR ?", "%1POWR=0", {"CR0"});
        row("POWR 1", standby, "%1POWR 1", "%1POWR=OK", {"C00"});
        row("POWR 0", on, "%1POWR 0", "%1POWR=OK", {"C01"});
        row("POWR 2", on, "%1POWR 2", "%1POWR=ERR2", {});
        row("INPT 12 on", on, "%1INPT 12", "%1INPT=OK", {"CR0", "C06"});
        row("INPT 21 on", on, "%1INPT 21", "%1INPT=OK", {"CR0", "C07"});
        row("INPT 11 standby", standby, "%1INPT 11", "%1INPT=ERR3", {"CR0"});
        row("INPT 11 warming", warming, "%1INPT 11", "%1INPT=ERR3", {"CR0"});
        row("INPT 31", on, "%1INPT 31", "%1INPT=ERR2", {});
        row("INPT ?", on, "%1INPT ?", "%1INPT=11", {"CR1"});
        row("INPT ? input 4", {"on", "input-4"}, "%1INPT ?", "%1INPT=ERR3", {"CR1"});
        row("AVMT 31 on", on, "%1AVMT 31", "%1AVMT=OK", {"CR0", "C0D", "C0B"});
        row("AVMT 11 on", on, "%1AVMT 11", "%1AVMT=OK", {"CR0", "C0D"});
        row("AVMT 20 on", on, "%1AVMT 20", "%1AVMT=OK", {"CR0", "C0C"});
        row("AVMT 31 cooling", cooling, "%1AVMT 31", "%1AVMT=ERR3", {"CR0"});
        row("AVMT 40", on, "%1AVMT 40", "%1AVMT=ERR2", {});
        row("AVMT ? on", on, "%1AVMT ?", "%1AVMT=30", {"CRA"});
        row("AVMT ? standby", standby, "%1AVMT ?", "%1AVMT=ERR3", {"CRA"});
        row("AVMT ? no signal", {"on", "no-signal"}, "%1AVMT ?", "%1AVMT=30", {"CRA"});
        row("ERST ? on", on, "%1ERST ?", "%1ERST=000000", {"CR0"});
        row("ERST ? temperature", {"temperature-warning"}, "%1ERST ?", "%1ERST=001000", {"CR0"});
        row("ERST ? lamp fail", {"lamp-fail-cooling"}, "%1ERST ?", "%1ERST=020000", {"CR0"});
        row("ERST ? power fail", {"power-fail"}, "%1ERST ?", "%1ERST=000002", {"CR0"});
        row("LAMP ? two lamps", on, "%1LAMP ?", "%1LAMP=1234 1 1234 1", {"CR3", "CR7"});
        row("LAMP ? No2 on", {"lamps-2-no2-on"}, "%1LAMP ?", "%1LAMP=1234 0 1234 1", {"CR3", "CR7"});
        row("LAMP ? one lamp off", {"lamp-1-off"}, "%1LAMP ?", "%1LAMP=1234 0", {"CR3", "CR7"});
        row("LAMP ? one lamp on", {"lamp-2-on"}, "%1LAMP ?", "%1LAMP=1234 1", {"CR3", "CR7"});
        row("INST ?", standby, "%1INST ?", "%1INST=11 12 21", {});
        row("NAME ?", standby, "%1NAME ?", "%1NAME=Room 2.14", {});
        row("INF1 ?", standby, "%1INF1 ?", "%1INF1=ORVA", {});
        row("INF2 ?", standby, "%1INF2 ?", "%1INF2=TK58R", {});
        row("INFO ?", standby, "%1INFO ?", "%1INFO=orva-bridge 1.40", {});
        row("CLSS ?", standby, "%1CLSS ?", "%1CLSS=1", {});
        row("CLSS 1", standby, "%1CLSS 1", "%1CLSS=ERR2", {});
        row("undefined", standby, "%1LENS ?", "%1LENS=ERR1", {});
        row("lower case", standby, "%1powr 1", "%1powr=ERR1", {});
        row("class 2", standby, "%2POWR 1", "%2POWR=ERR1", {});
    }
    void requests()
    {
        QFETCH(QStringList, states);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, line);
        QStringList arguments;
        for (const QString &s : states)
            arguments << QStringLiteral("--state") << s;
        Simulator sim(arguments);
        bridge::PjlinkIdentity identity;
        identity.name = QStringLiteral("Room 2.14");
        Bridge b(sim.path, identity);
        Client c(b.server.port());
        QCOMPARE(c.greeting, QByteArray("PJLINK 0"));
        QCOMPARE(c.ask(request), answer);
        QTRY_COMPARE_WITH_TIMEOUT(sim.heard(), line, kWait);
    }

    // A silent projector: ERR4 for what needs the line, the rest answered as ever.
    void silentProjector()
    {
        Simulator sim({QStringLiteral("--silent")});
        Bridge b(sim.path);
        Client c(b.server.port());
        QCOMPARE(c.ask("%1POWR ?"), QByteArray("%1POWR=ERR4"));
        QCOMPARE(c.ask("%1POWR 1"), QByteArray("%1POWR=ERR4"));
        QCOMPARE(c.ask("%1CLSS ?"), QByteArray("%1CLSS=1"));
    }

    // With a password: the challenge, the digest on the first request only; a wrong
    // or missing digest is refused and the connection closed, with nothing sent on
    // the line.
    void authentication_data()
    {
        QTest::addColumn<QByteArray>("password");  // the client's
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("right") << QByteArray("secret") << QByteArray("%1POWR=0");
        QTest::newRow("wrong") << QByteArray("Secret") << QByteArray("PJLINK ERRA");
        QTest::newRow("missing") << QByteArray() << QByteArray("PJLINK ERRA");
    }
    void authentication()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, answer);
        Simulator sim({});
        bridge::PjlinkIdentity identity;
        identity.password = "secret";
        Bridge b(sim.path, identity);
        Client c(b.server.port());
        QVERIFY2(c.greeting.startsWith("PJLINK 1 ") && c.greeting.size() == 17, c.greeting.constData());
        const QByteArray random = c.greeting.mid(9);
        const QByteArray digest = password.isEmpty() ? QByteArray()
                                                     : QCryptographicHash::hash(random + password, QCryptographicHash::Md5).toHex();
        QCOMPARE(c.ask(digest + "%1POWR ?"), answer);
        if (answer.startsWith("PJLINK")) {
            QCOMPARE(c.next(), QByteArray("<closed>"));
            QCOMPARE(sim.heard(), QStringList());
        } else {
            QCOMPARE(c.ask("%1CLSS ?"), QByteArray("%1CLSS=1"));
            QTRY_COMPARE_WITH_TIMEOUT(sim.heard(), QStringList{"CR0"}, kWait);
        }
    }

    // What is no PJLink closes the connection, with nothing on the line; the
    // standard's errors are answered and the connection stays.
    void malformed_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("garbage") << QByteArray("hello\r") << QByteArray("<closed>");
        QTest::newRow("NUL") << QByteArray("%1POWR\0001\r", 9) << QByteArray("<closed>");
        QTest::newRow("8-bit") << QByteArray("%1POWR \xff\r") << QByteArray("<closed>");
        QTest::newRow("too long, no CR") << QByteArray(200, '%') << QByteArray("<closed>");
        QTest::newRow("parameter too long") << "%1NAME " + QByteArray(129, 'x') + '\r' << QByteArray("<closed>");
        QTest::newRow("lower case") << QByteArray("%1powr 1\r") << QByteArray("%1powr=ERR1");
        QTest::newRow("no parameter") << QByteArray("%1POWR\r") << QByteArray("%1POWR=ERR1");
        QTest::newRow("class 2") << QByteArray("%2POWR 1\r") << QByteArray("%2POWR=ERR1");
        QTest::newRow("out of parameter") << QByteArray("%1POWR 11\r") << QByteArray("%1POWR=ERR2");
    }
    void malformed()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, answer);
        Simulator sim({});
        Bridge b(sim.path);
        Client c(b.server.port());
        c.socket.write(bytes);
        QCOMPARE(c.next(), answer);
        if (!answer.startsWith('<'))
            QCOMPARE(c.ask("%1CLSS ?"), QByteArray("%1CLSS=1"));
        QCOMPARE(sim.heard(), QStringList());
    }

    // A connection that says nothing is closed after the idle time.
    void idleConnectionClosed()
    {
        Simulator sim({});
        Bridge b(sim.path);
        b.server.setIdleTimeout(300);
        Client c(b.server.port());
        QCOMPARE(c.ask("%1CLSS ?"), QByteArray("%1CLSS=1"));
        QCOMPARE(c.next(), QByteArray("<closed>"));
    }

    // Three clients asking the power status at once and a fourth the error status:
    // one power status query on the line, each answered; a fifth asking the input
    // gets its own answer.
    void clientsShareTheLine()
    {
        Simulator sim({QStringLiteral("--state"), QStringLiteral("on"), QStringLiteral("--delay-ms"), QStringLiteral("150")});
        Bridge b(sim.path);
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < 5; ++i)
            clients.push_back(std::make_unique<Client>(b.server.port()));
        const QByteArray requests[] = {"%1POWR ?", "%1POWR ?", "%1POWR ?", "%1INPT ?", "%1ERST ?"};
        for (int i = 0; i < 5; ++i)
            clients[i]->socket.write(requests[i] + '\r');
        const QByteArray answers[] = {"%1POWR=1", "%1POWR=1", "%1POWR=1", "%1INPT=11", "%1ERST=000000"};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(clients[i]->next(), answers[i]);
        // The error status is read from the same power status query.
        QStringList heard = sim.heard();
        heard.sort();
        QCOMPARE(heard, (QStringList{"CR0", "CR1"}));
    }

    // A client that goes away with commands waiting: only its own are dropped; its
    // command already on the line is answered to no one.
    void clientDropsWithCommandsWaiting()
    {
        Simulator sim({QStringLiteral("--delay-ms"), QStringLiteral("200")});
        bridge::ProjectorQueue queue(sim.path, QStringLiteral("19200,N,8,1"));
        queue.start();
        int leftHeard = 0;
        QList<bridge::Reply> stayed;
        const auto left = [&](const bridge::Reply &) { ++leftHeard; };
        QVERIFY(queue.enqueue(1, QStringLiteral("Command44"), QString(), left));
        QVERIFY(queue.enqueue(1, QStringLiteral("Command45"), QString(), left));
        QVERIFY(queue.enqueue(2, QStringLiteral("Command46"), QString(), [&](const bridge::Reply &r) { stayed << r; }));
        queue.dropClient(1);
        QTRY_COMPARE_WITH_TIMEOUT(stayed.size(), 1, kWait);
        QVERIFY(stayed.first().answered);
        QCOMPARE(stayed.first().text, QStringLiteral("01234\r"));
        QCOMPARE(leftHeard, 0);
        QCOMPARE(sim.heard(), (QStringList{"CR0", "CR3"}));
    }

    // A full queue refuses the next command and queues nothing; stopping answers
    // every waiting command with the reason.
    void fullQueueAndStop()
    {
        Simulator sim({QStringLiteral("--silent")});
        bridge::ProjectorQueue queue(sim.path, QStringLiteral("19200,N,8,1"));
        queue.start();
        QStringList errors;
        const auto note = [&](const bridge::Reply &r) { errors << r.error; };
        QVERIFY(queue.enqueue(1, QStringLiteral("Command17"), QString(), note));  // on the line
        for (int i = 0; i < bridge::ProjectorQueue::kMaxWaiting; ++i)
            QVERIFY(queue.enqueue(1, QString(), QStringLiteral("C%1").arg(i, 2, 16, QLatin1Char('0')), note));
        QCOMPARE(queue.waiting(), 64);
        QVERIFY(!queue.enqueue(2, QString(), QStringLiteral("C99"), note));
        QCOMPARE(queue.waiting(), 64);
        queue.stop(QStringLiteral("the bridge is ending"));
        QCOMPARE(errors, QStringList(65, QStringLiteral("the bridge is ending")));
        QCOMPARE(queue.waiting(), 0);
        QVERIFY(!queue.portOpen());
    }

    // The projector goes away (its device server ends) and comes back: ERR4
    // meanwhile, then answers again, without a restart of the bridge.
    void projectorComesBack()
    {
        auto sim = std::make_unique<Simulator>(QStringList{"--tcp", "0", "--state", "on"});
        const QString path = sim->path;
        QVERIFY2(path.startsWith(QLatin1String("tcp://127.0.0.1:")), qPrintable(path));
        Bridge b(path);
        Client c(b.server.port());
        QCOMPARE(c.ask("%1POWR ?"), QByteArray("%1POWR=1"));
        sim.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!b.queue.portOpen(), kWait);
        QCOMPARE(c.ask("%1POWR ?"), QByteArray("%1POWR=ERR4"));
        sim = std::make_unique<Simulator>(QStringList{"--tcp", path.section(u':', -1), "--state", "cooling-down"});
        QTRY_VERIFY_WITH_TIMEOUT(b.queue.portOpen(), 3 * bridge::ProjectorQueue::kReopenMs);
        QCOMPARE(c.ask("%1POWR ?"), QByteArray("%1POWR=2"));
    }

    // The raw port: each command's reply to its own sender, a PJLink client beside
    // them; characters nobody asked for go to every raw client.
    void rawClientsAndPjlinkTogether()
    {
        Simulator sim({QStringLiteral("--delay-ms"), QStringLiteral("100")});
        Bridge b(sim.path);
        QTcpSocket first, second;
        first.connectToHost(QHostAddress::LocalHost, b.raw.port());
        second.connectToHost(QHostAddress::LocalHost, b.raw.port());
        QTRY_VERIFY_WITH_TIMEOUT(first.state() == QAbstractSocket::ConnectedState && second.state() == QAbstractSocket::ConnectedState, kWait);
        Client pj(b.server.port());
        first.write("CR3\r");
        second.write("C05\r");
        pj.socket.write("%1POWR ?\r");
        QByteArray a, s;
        QTRY_COMPARE_WITH_TIMEOUT((a += first.readAll()), QByteArray("01234\r"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT((s += second.readAll()), QByteArray("\x06"), kWait);
        QCOMPARE(pj.next(), QByteArray("%1POWR=0"));
        QStringList heard = sim.heard();
        QCOMPARE(heard.size(), 3);
        heard.sort();
        QCOMPARE(heard, (QStringList{"C05", "CR0", "CR3"}));
        emit b.queue.unsolicited(QStringLiteral("8"));
        QByteArray both;
        QTRY_COMPARE_WITH_TIMEOUT((both += first.readAll() + second.readAll()), QByteArray("88"), kWait);
    }

    // The panel's engine and orva-ctl through the raw port, as through a device
    // server: the same bytes, the same answers.
    void panelAndCtlThroughTheBridge()
    {
        Simulator sim({});
        Bridge b(sim.path);
        QtSerialControl serial({{1, b.rawPath()}, {2, b.rawPath()}});
        ExchangeEngine engine(serial);
        engine.start();
        engine.click(u"Command44");
        QTRY_COMPARE_WITH_TIMEOUT(engine.line(ExchangeEngine::Line::Status), QStringLiteral(" Stand by"), kWait);
        QProcess ctl;
        ctl.start(QStringLiteral(ORVA_CTL_PATH), {QStringLiteral("--port"), b.rawPath(), QStringLiteral("power-on")});
        QTRY_COMPARE_WITH_TIMEOUT(ctl.state(), QProcess::NotRunning, kWait);
        QCOMPARE(ctl.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(sim.heard(), (QStringList{"CR0", "C00"}), kWait);
        engine.end();
    }

    // The service ended by SIGTERM: a request waiting for a silent projector is
    // answered with an error, and the program ends with 0.
    void endsCleanlyOnSigterm()
    {
        Simulator sim({QStringLiteral("--silent")});
        QTcpServer probe;  // a free port for the bridge
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        QProcess service;
        service.start(QStringLiteral(ORVA_BRIDGE_PATH), {QStringLiteral("--device"), sim.path, QStringLiteral("--pjlink"), QString::number(port)});
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += service.readAllStandardError()).contains("PJLink on 127.0.0.1 port"), kWait);
        Client c(port);
        c.socket.write("%1POWR 1\r");
        QTRY_COMPARE_WITH_TIMEOUT(sim.heard(), QStringList{"C00"}, kWait);
        service.terminate();
        QCOMPARE(c.next(), QByteArray("%1POWR=ERR4"));
        QTRY_COMPARE_WITH_TIMEOUT(service.state(), QProcess::NotRunning, kWait);
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        QVERIFY2((log += service.readAllStandardError()).endsWith("orva-bridge: ended\n"), log.constData());
    }
};

QTEST_GUILESS_MAIN(TstBridge)
#include "tst_bridge.moc"
