// The bridge's PJLink class 1 listener and its queue, against orva-sim on a
// pseudo-terminal: each request's answer and the codes it put on the line.

#include "BridgeSupport.h"
#include "Config.h"
#include "PjlinkServer.h"
#include "ProjectorQueue.h"
#include "RawServer.h"
#include "SimulatorProcess.h"

#include <QEventLoop>
#include <QTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <memory>
#include <numeric>

#include <sys/stat.h>

namespace {

using Simulator = SimulatorProcess;

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


} // namespace

class TstBridge : public QObject {
    Q_OBJECT
private slots:
    // PJLink exchanges, several on one connection (a new one after each close), in
    // each state the simulator plays: each answer, the codes that went out on the
    // line, and the kind of trouble logged once. Replies that cannot be trusted
    // (none, late past the reply window: a warming projector can be slower, the mute
    // status asked as a command text has 2 s; trickled in pieces past the window; of
    // no form the query has) are ERR4, never a value that answered another query.
    // What is no PJLink closes the connection with nothing on the line; the
    // standard's errors are answered and the connection stays.
    void exchanges_data()
    {
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QList<QByteArray>>("asked");  // bytes sent, then the answer, in turn
        QTest::addColumn<QStringList>("line");
        QTest::addColumn<QString>("logged");
        // Class 1 requests (tests/reference/bridge_pjlink.txt), "%1" and the CR added.
        QFile data(QStringLiteral(ORVA_SOURCE_DIR "/tests/reference/bridge_pjlink.txt"));
        QVERIFY(data.open(QIODevice::ReadOnly));
        for (const QByteArray &record : data.readAll().split('@').mid(1)) {
            QList<QByteArray> lines = record.trimmed().split('\n');
            const QList<QByteArray> head = lines.takeFirst().split(':');
            QList<QByteArray> asked;
            QStringList line;
            QString logged;
            for (const QByteArray &l : lines)
                if (l.startsWith("line: "))
                    line = QString::fromLatin1(l.mid(6)).split(u' ');
                else if (l.startsWith("log: "))
                    logged = QString::fromUtf8(l.mid(5));
                else
                    asked << "%1" + l.left(l.indexOf(" -> ")) + '\r' << "%1" + l.mid(l.indexOf(" -> ") + 4);
            QTest::newRow(head[0].constData()) << QString::fromLatin1(head.value(1)).split(u' ', Qt::SkipEmptyParts) << asked << line << logged;
        }
        const auto raw = [](const char *name, QList<QByteArray> asked) { QTest::newRow(name) << QStringList() << asked << QStringList() << QString(); };
        raw("no PJLink", {"hello\r", "<closed>", "POWR ?\r", "<closed>", "%1PO\r", "<closed>", "\r", "<closed>",
            QByteArray("%1POWR\0001\r", 9), "<closed>", "%1POWR \xff\r", "<closed>", QByteArray(200, '%'), "<closed>",
            "%1NAME " + QByteArray(129, 'x') + '\r', "<closed>"});
        raw("errors answered", {"%1NAME " + QByteArray(128, 'x') + '\r', "%1NAME=ERR2", "%1LENS ?\r", "%1LENS=ERR1",
            "%1PO-R ?\r", "%1PO-R=ERR1", "%1powr 1\r", "%1powr=ERR1", "%1POWR\r", "%1POWR=ERR1", "%1POWR?\r", "%1POWR=ERR1",
            "%2POWR 1\r", "%2POWR=ERR1", "%1CLSS ?\r", "%1CLSS=1"});
    }
    void exchanges()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QList<QByteArray>, asked);
        QFETCH(QStringList, line);
        QFETCH(QString, logged);
        Simulator sim(simulator);
        Bridge b(sim.path, {QStringLiteral("Room 2.14"), {}});
        QStringList log;
        QObject::connect(&b.queue, &bridge::ProjectorQueue::logLine, [&](const QString &text) { log << text; });
        auto c = std::make_unique<Client>(b.server.port());
        for (qsizetype i = 0; i + 1 < asked.size(); i += 2) {
            QCOMPARE(c->greeting, QByteArray("PJLINK 0"));
            c->socket.write(asked[i]);
            QCOMPARE(c->next(), asked[i + 1]);
            if (asked[i + 1] == "<closed>")
                c = std::make_unique<Client>(b.server.port());
        }
        QTRY_COMPARE_WITH_TIMEOUT(sim.heard(), line, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!b.queue.settling(), kWait);
        QCOMPARE(log.removeDuplicates(), 0);
        QCOMPARE(log.contains(logged), !logged.isEmpty());
        // Too long for the parser as well (the listener takes no line so long).
        QCOMPARE(pjlink::parseLine("%1NAME " + QByteArray(129, 'x')).kind, pjlink::Parsed::Kind::Close);
    }

    // A projector that never stops talking: the line never settles, yet each request
    // is answered in bounded time.
    void chatteringProjector()
    {
        Simulator sim({QStringLiteral("--flood")});
        Bridge b(sim.path);
        Client c(b.server.port());
        for (int i = 0; i < 2; ++i)
            QVERIFY(c.ask("%1POWR ?").startsWith("%1POWR="));
    }

    // The queue on its own. A client that goes away with commands waiting: only its
    // own are dropped; its command already on the line is answered to no one. Clients
    // take turns: one client's backlog delays another's command by at most the one on
    // the line and one of its own; a client may have kClientShare commands waiting (on
    // the line included), and the queue kMaxWaiting. Stopped, each is told why.
    void queueOnItsOwn()
    {
        Simulator sim({QStringLiteral("--delay-ms"), QStringLiteral("20")});
        bridge::ProjectorQueue queue(sim.path, QStringLiteral("19200,N,8,1"));
        queue.start();
        QStringList told;
        const auto left = [&](const bridge::Reply &) { told << QStringLiteral("to a client that left"); };
        QVERIFY(queue.enqueue(11, QStringLiteral("status"), QString(), left));
        QVERIFY(queue.enqueue(11, QStringLiteral("mode"), QString(), left));
        QVERIFY(queue.enqueue(12, QStringLiteral("lamp-time"), QString(), [&](const bridge::Reply &r) { told << r.text; }));
        queue.dropClient(11);
        QTRY_COMPARE_WITH_TIMEOUT(told, QStringList{"01234\r"}, kWait);
        int answered = 0;  // a clean reply leaves the line unsettled: the next goes at once
        const auto note = [&](const bridge::Reply &r) { answered += r.answered && !queue.settling(); };
        for (int i = 0; i < 8; ++i)
            QVERIFY(queue.enqueue(1, QString(), QStringLiteral("C0B"), note));
        QVERIFY(!queue.enqueue(1, QString(), QStringLiteral("C0C"), note));
        QVERIFY(queue.enqueue(2, QStringLiteral("status"), QString(), note));
        QVERIFY(queue.enqueue(3, QString(), QStringLiteral("C0C"), note));
        QVERIFY(queue.enqueue(2, QString(), QStringLiteral("C0D"), note));
        QString unknown;
        QVERIFY(queue.enqueue(4, QStringLiteral("no-such"), QString(), [&](const bridge::Reply &r) { unknown = r.answered ? r.text : r.error; }));
        QTRY_COMPARE_WITH_TIMEOUT(answered, 11, kWait);
        QCOMPARE(unknown, QStringLiteral("no such command"));
        QCOMPARE(sim.heard(), (QStringList{"CR0", "CR3", "C0B", "C0B", "CR0", "C0C", "C0B", "C0D", "C0B", "C0B", "C0B", "C0B", "C0B"}));
        // The longest command text goes on the line, one character more is refused at
        // once; behind it, commands until the queue is full.
        told.clear();
        const auto why = [&](const bridge::Reply &r) { told << (r.answered ? QStringLiteral("answered") : r.error); };
        QVERIFY(queue.enqueue(1, QString(), QString(129, u'A'), why));
        QVERIFY(queue.enqueue(1, QString(), QString(128, u'A'), why));  // on the line
        for (int i = 0; i < bridge::ProjectorQueue::kMaxWaiting; ++i)
            QVERIFY(queue.enqueue(2 + i / bridge::ProjectorQueue::kClientShare, QString(),
                                  QStringLiteral("C%1").arg(i, 2, 16, QLatin1Char('0')), why));
        QVERIFY(!queue.enqueue(1, QString(), QStringLiteral("C99"), why));
        queue.stop(QStringLiteral("the bridge is ending"));
        QCOMPARE(told, QStringList{"no command text of printable ASCII up to 128 characters"} + QStringList(65, QStringLiteral("the bridge is ending")));
        // Counted: 13 answered, each 20 ms late at least (none within 5 or 10 ms); two refused, the queue full.
        const bridge::QueueCounts &counts = queue.counts();
        QCOMPARE(counts.outcomes, (std::array<quint64, bridge::kOutcomes>{13, 0, 0, 0, 0, 2}));
        QCOMPARE(std::accumulate(counts.replyTimes.begin() + 2, counts.replyTimes.end(), 0u), 13u);
        QVERIFY2(counts.replySeconds >= 13 * 0.02 && counts.replySeconds < 13 * 0.5, qPrintable(QString::number(counts.replySeconds)));
        QCOMPARE(queue.waiting(), 0);
        QVERIFY(!queue.portOpen());
    }

    // How commands end, as the queue counts them: answered, answered with no ACK,
    // with a reply of no form the query has, with none, or on a port that is closed.
    void counted()
    {
        // orva-sim's option ("gone": a device that is not there), the texts sent, and the
        // outcomes counted: answered, not acknowledged, bad reply, no reply, port closed.
        const struct { const char *option; QStringList texts; QList<int> outcomes; } rows[] = {{"", {"CR0", "C00", "CZZ"}, {2, 1, 0, 0, 0}}, {"--garbage", {"CR0"}, {0, 0, 1, 0, 0}},
                    {"--silent", {"CR0"}, {0, 0, 0, 1, 0}}, {"gone", {"CR0"}, {0, 0, 0, 0, 1}}};
        for (const auto &row : rows) {
            const QString option = QString::fromLatin1(row.option);
            std::unique_ptr<Simulator> sim = option == u"gone" ? nullptr : std::make_unique<Simulator>(QStringList{option}.filter(QStringLiteral("-")));
            bridge::ProjectorQueue queue(sim ? sim->path : QStringLiteral("/dev/no-such-tty"), QStringLiteral("19200,N,8,1"));
            queue.start();
            int done = 0;
            for (const QString &text : row.texts)
                QVERIFY(queue.enqueue(1, QString(), text, [&](const bridge::Reply &) { ++done; }));
            QTRY_COMPARE_WITH_TIMEOUT(done, row.texts.size(), kWait);
            QCOMPARE(QList<int>(queue.counts().outcomes.begin(), queue.counts().outcomes.begin() + 5), row.outcomes);
        }
    }

    // The projector goes away (its device server ends) and comes back: ERR4
    // meanwhile, then answers again, without a restart of the bridge.
    void projectorComesBack()
    {
        auto sim = std::make_unique<Simulator>(QStringList{"--tcp", "0", "--state", "on"});
        const QString path = sim->path;
        QVERIFY2(path.startsWith(QLatin1String("tcp://127.0.0.1:")), qPrintable(path));
        Bridge b(path);
        QStringList log;
        QObject::connect(&b.queue, &bridge::ProjectorQueue::logLine, [&](const QString &text) { log << text.left(20); });
        Client c(b.server.port());
        QCOMPARE(c.ask("%1POWR ?"), QByteArray("%1POWR=1"));
        sim.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!b.queue.portOpen(), kWait);
        QCOMPARE(c.ask("%1POWR ?"), QByteArray("%1POWR=ERR4"));
        QCOMPARE(b.queue.counts().portLosses, 1u);
        QCOMPARE(b.queue.counts().outcomes[int(bridge::Outcome::PortClosed)], 1u);
        QTRY_COMPARE_WITH_TIMEOUT(log.size(), 2, 3 * bridge::ProjectorQueue::kReopenMs);  // a try that fails
        sim = std::make_unique<Simulator>(QStringList{"--tcp", path.section(u':', -1), "--state", "cooling-down"});
        QTRY_VERIFY_WITH_TIMEOUT(b.queue.portOpen(), 3 * bridge::ProjectorQueue::kReopenMs);
        QCOMPARE(c.ask("%1POWR ?"), QByteArray("%1POWR=2"));
        // Told once each: gone, the tries that failed, and open again only once it is.
        QCOMPARE(log, (QStringList{"The serial port stop", "Connection refused: ", "The projector's port"}));
    }

    // A listener takes so many connections at once: the next is closed at once and
    // logged; once one goes, another comes in; a connection silent for the idle time is closed.
    void connectionLimit()
    {
        Simulator sim({});
        Bridge b(sim.path);
        QStringList logged;
        QObject::connect(&b.server, &bridge::PjlinkServer::logLine, [&](const QString &line) { logged << line; });
        b.server.setMaxConnections(2);
        auto first = std::make_unique<Client>(b.server.port());
        Client second(b.server.port()), third(b.server.port());
        QCOMPARE(QList({first->greeting, second.greeting, third.greeting}), QList<QByteArray>({"PJLINK 0", "PJLINK 0", "<closed>"}));
        QCOMPARE(logged, QStringList{"PJLink: a connection from 127.0.0.1 closed: 2 are open already"});
        first.reset();
        QTRY_COMPARE_WITH_TIMEOUT(b.server.connections(), 1, kWait);
        b.server.setIdleTimeout(300);
        Client fourth(b.server.port());
        QCOMPARE(fourth.greeting, QByteArray("PJLINK 0"));
        QCOMPARE(fourth.ask("%1POWR ?"), QByteArray("%1POWR=0"));
        QCOMPARE(fourth.next(), QByteArray("<closed>"));
    }

    // Commands back to back, each sent as the reply before it came, for longer than
    // one reply window: 6000 lamp-time replies of 6 characters, more than the
    // engine's received text holds (32767), and every one of them whole.
    void manyRepliesBackToBack()
    {
        Simulator sim({});
        Bridge b(sim.path);
        int replies = 0;
        QString wrong;  // the first reply that was not whole
        // An event loop of its own: QTRY's waits sleep 10 ms between turns.
        QEventLoop loop;
        std::function<void()> next = [&] {
            b.queue.enqueue(1, QStringLiteral("lamp-time"), {}, [&](const bridge::Reply &r) {
                if (wrong.isEmpty() && !(r.answered && r.text == QLatin1String("01234\r")))
                    wrong = QStringLiteral("%1: %2 %3").arg(replies).arg(r.text, r.error);
                ++replies < 6000 ? next() : loop.quit();
            });
        };
        QTimer::singleShot(200000, &loop, &QEventLoop::quit);
        next();
        loop.exec();
        QCOMPARE(replies, 6000);
        QCOMPARE(wrong, QString());
    }

    // Two raw clients, PJLink clients and orva-ctl at once: each reply to its own
    // sender, told apart by its content; three PJLink clients asking the power status
    // and one the error status share one power status query on the line; characters
    // nobody asked for go to every raw client.
    void clientsOfEveryKindTogether()
    {
        Simulator sim({QStringLiteral("--delay-ms"), QStringLiteral("150")});
        Bridge b(sim.path);
        Client first(b.raw.port(), QStringLiteral("127.0.0.1"), false), second(b.raw.port(), QStringLiteral("127.0.0.1"), false);
        const std::pair<QByteArray, QByteArray> asked[] = {
            {"%1POWR ?", "%1POWR=0"}, {"%1POWR ?", "%1POWR=0"}, {"%1INPT ?", "%1INPT=11"}, {"%1ERST ?", "%1ERST=000000"}, {"%1POWR ?", "%1POWR=0"}};
        std::vector<std::unique_ptr<Client>> pj;
        for (std::size_t i = 0; i < std::size(asked); ++i)
            pj.push_back(std::make_unique<Client>(b.server.port()));
        QProcess ctl;
        // Its command waits behind the others: a reply window of its own would end first.
        ctl.start(QStringLiteral(ORVA_CTL_PATH),
                  {QStringLiteral("--port"), b.rawPath(), QStringLiteral("--timeout"), QStringLiteral("5000"), QStringLiteral("status")});
        first.socket.write("CR3\r");
        second.socket.write("C05\r");
        for (std::size_t i = 0; i < pj.size(); ++i)
            pj[i]->socket.write(asked[i].first + '\r');
        QCOMPARE(first.next(), QByteArray("01234"));
        QTRY_COMPARE_WITH_TIMEOUT((second.buffer += second.socket.readAll()), QByteArray("\x06"), kWait);
        for (std::size_t i = 0; i < pj.size(); ++i)
            QCOMPARE(pj[i]->next(), asked[i].second);
        QTRY_COMPARE_WITH_TIMEOUT(ctl.state(), QProcess::NotRunning, kWait);
        QCOMPARE(ctl.exitCode(), 0);
        QCOMPARE(ctl.readAllStandardOutput(), QByteArray("Stand by\n"));
        QStringList heard = sim.heard();
        heard.sort();
        QCOMPARE(heard, (QStringList{"C05", "CR0", "CR0", "CR1", "CR3"}));
        QCOMPARE(first.buffer + first.socket.readAll() + second.socket.readAll(), QByteArray());  // nothing of the others' replies
        emit b.queue.unsolicited(QStringLiteral("8"));
        QByteArray both;
        QTRY_COMPARE_WITH_TIMEOUT((both += first.socket.readAll() + second.socket.readAll()), QByteArray("88"), kWait);
    }

    // The configuration file: what it sets, and each way it can be wrong, named
    // (the files: tests/reference/bridge_config.txt).
    void configuration_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("error");     // a part of the reason, or empty
        QTest::addColumn<QString>("settings");  // what was read, in short, or empty
        QFile data(QStringLiteral(ORVA_SOURCE_DIR "/tests/reference/bridge_config.txt"));
        QVERIFY(data.open(QIODevice::ReadOnly));
        for (const QByteArray &record : data.readAll().split('@').mid(1)) {
            const QList<QByteArray> lines = record.split('\n');
            QByteArray file, error, settings;
            for (const QByteArray &line : lines.mid(1, lines.size() - 2))
            {
                const bool told = line.startsWith("! ") || line.startsWith("= ");
                (!told ? file : line[0] == '!' ? error : settings) += told ? line.mid(2) : line + '\n';
            }
            QTest::newRow(lines.first().trimmed().constData()) << file << QString::fromUtf8(error) << QString::fromUtf8(settings);
        }
        // The one the package installs, served as it stands.
        QTest::newRow("packaged") << QByteArray(ORVA_SOURCE_DIR "/packaging/orva-bridge.conf") << QString()
                                  << QStringLiteral("127.0.0.1  no-password=0 max=32 | projector /dev/ttyS0 19200 4352 0 'TK58R' ''");
    }
    void configuration()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, error);
        QFETCH(QString, settings);
        QTemporaryDir dir;
        const bool packaged = file.startsWith('/');
        const QString path = packaged ? QString::fromUtf8(file) : writeFile(dir, QStringLiteral("bridge.conf"), file);
        bridge::BridgeSettings read;
        QString why = bridge::readConfig(path, packaged ? QString() : QStringLiteral("/dev/ttyS0"), read);
        if (const QString unusable = why.isEmpty() ? bridge::checkSettings(read) : QString(); !unusable.isEmpty())
            why = path + QStringLiteral(": ") + unusable;
        QVERIFY2(error.isEmpty() ? why.isEmpty() : why.contains(error) && why.startsWith(path), qPrintable(why));
        if (!why.isEmpty() || settings.isEmpty())
            return;
        QString got = QStringLiteral("%1 %2 no-password=%3 max=%4").arg(read.listen, read.log).arg(read.noPassword).arg(read.maxConnections);
        for (const bridge::ProjectorSettings &p : read.projectors)
            got += QStringLiteral(" | %1 %2 %3 %4 %5 '%6' '%7'").arg(p.id, p.device, p.speed).arg(p.pjlink).arg(p.raw).arg(p.name, p.passwordFile);
        QCOMPARE(got, settings);
    }

    // Two projectors in one service: one silent, with requests waiting on it; the
    // other answers meanwhile, each request in its turn, and the exchange log tells
    // them apart.
    void twoProjectorsOneSilent()
    {
        Simulator quiet({QStringLiteral("--silent")});
        Simulator hall({QStringLiteral("--state"), QStringLiteral("on")});
        QTemporaryDir dir;
        const quint16 quietPort = freePort();
        quint16 hallPort = freePort();
        while (hallPort == quietPort)
            hallPort = freePort();
        const QString config = writeFile(dir, QStringLiteral("bridge.conf"), QStringLiteral("[bridge]\nlog = %1\n[quiet]\ndevice = %2\npjlink = %3\n[hall]\ndevice = %4\npjlink = %5\n")
                                                    .arg(dir.filePath(QStringLiteral("exchange.log")), quiet.path).arg(quietPort).arg(hall.path).arg(hallPort).toUtf8());
        Service service({QStringLiteral("--config"), config}, 2);
        Client waiting1(quietPort), waiting2(quietPort), asking(hallPort);
        // The second request only once the first is on the line: two connections
        // that send at the same moment are served in either order.
        waiting1.socket.write("%1POWR ?\r");
        QTRY_COMPARE_WITH_TIMEOUT(quiet.heard(), QStringList{"CR0"}, kWait);
        waiting2.socket.write("%1LAMP ?\r");
        QCOMPARE(asking.ask("%1POWR ?"), QByteArray("%1POWR=1"));
        QCOMPARE(asking.ask("%1AVMT ?"), QByteArray("%1AVMT=30"));
        QCOMPARE(asking.ask("%1INPT ?"), QByteArray("%1INPT=11"));
        QVERIFY(waiting1.buffer.isEmpty() && waiting1.socket.bytesAvailable() == 0);
        QCOMPARE(hall.heard(), (QStringList{"CR0", "CRA", "CR1"}));
        QCOMPARE(waiting1.next(), QByteArray("%1POWR=ERR4"));
        QCOMPARE(waiting2.next(), QByteArray("%1LAMP=ERR4"));
        QFile log(dir.filePath(QStringLiteral("exchange.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray lines = log.readAll();
        QVERIFY2(lines.contains(" quiet TX CR0<CR>\n") && lines.contains(" hall TX CRA<CR>\n") && lines.contains(" hall RX 1<CR>\n")
                     && lines.contains(" hall STATUS Power ON\n") && !lines.contains(" quiet RX"),
                 lines.constData());
        // Ended by SIGTERM, a request waiting on the silent one is answered with an
        // error (how the program ends: tst_cmdline's endsOnSignals).
        waiting1.socket.write("%1POWR 1\r");
        QTRY_COMPARE_WITH_TIMEOUT(quiet.heard(), (QStringList{"CR0", "CR3", "C00"}), kWait);
        service.process.terminate();
        QCOMPARE(waiting1.next(), QByteArray("%1POWR=ERR4"));
    }

    // The command line refuses what cannot be served, before it opens anything.
    void refusedAtStart_data()
    {
        QTest::addColumn<QStringList>("arguments");  // "@0644": a password file with that mode
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("said");  // a part of each line, one line each (0: a part of stdout)
        const auto row = [](const char *name, const QStringList &arguments, const char *said, int status = 64) {
            QTest::newRow(name) << arguments << status << QByteArray(said);
        };
        row("config and device", {"--config", "/dev/null", "--device", "/dev/ttyS1"}, "--device is a setting of the configuration file's projectors");
        row("no config file", {"--config", "/nonexistent/bridge.conf"}, "cannot read the configuration file /nonexistent/bridge.conf");
        row("port", {"--pjlink", "x"}, "--pjlink takes a port number");
        row("empty password file", {"--password-file", "/dev/null"}, "holds no password");
        row("name of 65", {"--name", QString(65, u'x')}, "the projector: name is at most 64 characters, not 65 (see orva-bridge --help)");
        row("unknown option", {"--pjlink-port", "4352"}, "orva-bridge: Unknown option 'pjlink-port' (see orva-bridge --help)");
        row("help", {"--help"}, "--raw <PORT>                 Shared raw port (a port number; default", 0);
        // Read by everyone: a warning, and the service goes on (here to the log it cannot open).
        row("password files others read", {"--password-file", "@0640", "--mqtt", "mqtt://127.0.0.1", "--mqtt-user", "u", "--mqtt-password-file", "@0644",
            "--log", "/nonexistent/x.log"}, "warning: everyone can read the password file \ncannot open the log file /nonexistent/x.log", 3);
    }
    void refusedAtStart()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, said);
        std::vector<std::unique_ptr<QTemporaryFile>> files;
        for (QString &argument : arguments)
            if (argument.startsWith(u'@')) {
                QTemporaryFile &file = *files.emplace_back(std::make_unique<QTemporaryFile>());
                QVERIFY(file.open() && file.write("secret\n") == 7 && file.flush());
                QCOMPARE(::chmod(qPrintable(file.fileName()), argument.mid(1).toUInt(nullptr, 8)), 0);
                argument = file.fileName();
            }
        QProcess service;
        service.start(QStringLiteral(ORVA_BRIDGE_PATH), arguments);
        QVERIFY(service.waitForFinished(kWait));
        QCOMPARE(service.exitCode(), status);
        if (status == 0) {
            QVERIFY2(service.readAllStandardOutput().contains(said), said.constData());
            return;
        }
        const QByteArray output = service.readAllStandardError();
        QList<QByteArray> lines = output.split('\n');
        const QList<QByteArray> parts = said.split('\n');
        QVERIFY2(lines.takeLast().isEmpty() && lines.size() == parts.size(), output.constData());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].startsWith("orva-bridge: ") && lines[i].contains(parts[i]), output.constData());
    }
};

QTEST_GUILESS_MAIN(TstBridge)
#include "tst_bridge.moc"
