// The bridge's HTTP API against orva-sim projectors: each request's answer, and
// the codes each projector heard.

#include "BridgeSupport.h"
#include "HttpServer.h"
#include "ProjectorQueue.h"
#include "ProjectorState.h"
#include "ReferenceRows.h"
#include "SimulatorProcess.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <algorithm>
#include <memory>

#include <csignal>
#include <sys/resource.h>

namespace {

// A projector as the bridge serves it: its line and its state.
struct Projector {
    std::unique_ptr<SimulatorProcess> sim;  // none: a device that is not there
    bridge::ProjectorQueue queue;
    bridge::ProjectorState state{queue};
    Projector(const QStringList &simulator, bool there = true)
        : sim(there ? std::make_unique<SimulatorProcess>(simulator) : nullptr),
          queue(there ? sim->path : QStringLiteral("/dev/no-such-tty"), QStringLiteral("19200,N,8,1"))
    {
        queue.start();
    }
};

// The request's whole answer: the status and the body (read until the bridge closes).
std::pair<int, QByteArray> ask(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    QByteArray answer;
    [&] { QTRY_VERIFY_WITH_TIMEOUT((answer += socket.readAll(), socket.state() == QAbstractSocket::UnconnectedState), kWait); }();
    answer += socket.readAll();
    return {answer.mid(9, 3).toInt(), answer.mid(answer.indexOf("\r\n\r\n") + 4)};
}

} // namespace

class TstHttp : public QObject {
    Q_OBJECT
private slots:
    void api_data() { addReferenceRows("http_api.rows"); }
    void api()
    {
        QFETCH(QJsonArray, row);
        Projector left({}), right({QStringLiteral("--on")}), silent({QStringLiteral("--silent")}), gone({}, false);
        bridge::HttpServer http(row[1].toString().toUtf8());
        QStringList log;
        QObject::connect(&http, &bridge::HttpServer::logLine, [&](const QString &text) { log << text; });
        http.setRequestTimeout(500);
        http.setMetrics([] { return QByteArray("orva_up 1\n"); }, false);
        for (auto [name, p] : {std::pair{"Left", &left}, {"Right", &right}, {"Silent", &silent}, {"Gone", &gone}})
            http.addProjector(QString::fromLatin1(name).toLower(), QString::fromLatin1(name), p->queue, p->state);
        QVERIFY(http.listen(QHostAddress::LocalHost, 0));
        const auto [status, body] = ask(http.port(), row[2].toString().replace(QStringLiteral("%PORT"), QString::number(http.port())).toUtf8());
        QCOMPARE(status, row[3].toInt());
        if (!row[4].isNull())
            QCOMPARE(body, row[4].toString().toUtf8());
        QTRY_COMPARE_WITH_TIMEOUT(left.sim->heard(), strings(row[5]), kWait);
        QCOMPARE(right.sim->heard(), strings(row[6]));
        QCOMPARE(silent.sim->heard(), strings(row[7]));
        QCOMPARE(log, QStringList());
    }

    // A page's WebSocket messages: what each puts on the line, and the kinds of
    // trouble logged once each. A typed text goes only with web-send.
    void pageMessages_data()
    {
        QTest::addColumn<bool>("sendAllowed");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("heard");
        QTest::addColumn<QStringList>("logged");
        const QString ignored = QStringLiteral("HTTP: %1 from a page: ignored");
        QTest::newRow("web-send off") << false << QStringList{R"({"send":"C01"})", R"({"send":"C01"})", R"({"click":"Command17"})"}
                                      << QStringList{"C00"} << QStringList{ignored.arg("a typed command (web-send is off)")};
        QTest::newRow("web-send on") << true << QStringList{R"({"send":"C01"})"} << QStringList{"C01"} << QStringList();
        QTest::newRow("none of the page's")
            << true << QStringList{"[]", R"({"click":"Command1"})", R"({"press":"Command17"})", R"({"click":"Command17","send":"C01"})", "x"}
            << QStringList() << QStringList{ignored.arg("a message that is none of the page's"), ignored.arg("a click on no command's control")};
    }
    void pageMessages()
    {
        QFETCH(bool, sendAllowed);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, heard);
        QFETCH(QStringList, logged);
        Projector left({});
        bridge::HttpServer http("");
        QStringList log;
        QObject::connect(&http, &bridge::HttpServer::logLine, [&](const QString &text) { log << text; });
        http.setSendAllowed(sendAllowed);
        http.addProjector(QStringLiteral("left"), QStringLiteral("Left"), left.queue, left.state);
        QVERIFY(http.listen(QHostAddress::LocalHost, 0));
        QWebSocket page(QStringLiteral("http://127.0.0.1:%1").arg(http.port()));
        QStringList said;
        QObject::connect(&page, &QWebSocket::textMessageReceived, [&](const QString &m) { said << m; });
        page.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/p/left/ws").arg(http.port())));
        QTRY_VERIFY_WITH_TIMEOUT(!said.isEmpty(), kWait);  // the state, at once
        for (const QString &m : messages)
            page.sendTextMessage(m);
        QTRY_COMPARE_WITH_TIMEOUT(left.sim->heard().filter(QRegularExpression(QStringLiteral("^C[^R]"))), heard, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(log, logged, kWait);
    }

    // A state shown by two pages is asked once a poll, and not at all once none
    // shows it; one that MQTT polls is asked only what is older than a poll, and
    // kept from its replies.
    void polls()
    {
        Projector p({});
        p.state.setPollInterval(300);
        p.state.watch();
        p.state.watch();
        QTest::qWait(1000);  // the first round, then one every 300 ms
        p.state.unwatch();
        p.state.unwatch();
        const int asked = int(p.sim->heard().count(QStringLiteral("CR0")));
        QVERIFY2(asked >= 3 && asked <= 5, qPrintable(QString::number(asked)));
        QTest::qWait(700);
        QCOMPARE(p.sim->heard().count(QStringLiteral("CR0")), asked);
        p.state.setPolledElsewhere();
        p.state.watch();
        QTest::qWait(700);
        QCOMPARE(p.sim->heard().count(QStringLiteral("CR0")), asked + 1);
        // Another's status query unanswered (the projector switched off at the mains,
        // its port still open): the projector is unavailable and its state unknown.
        QVERIFY(p.state.json()[QStringLiteral("available")].toBool());
        kill(pid_t(p.sim->process.processId()), SIGSTOP);
        p.queue.enqueue(1, QStringLiteral("status"), QString(), [](const bridge::Reply &) {});
        QTRY_VERIFY_WITH_TIMEOUT(p.state.json()[QStringLiteral("power")].isNull() && p.state.json()[QStringLiteral("mute")].isNull(), kWait);
        QVERIFY(!p.state.json()[QStringLiteral("available")].toBool() && p.queue.portOpen());
        kill(pid_t(p.sim->process.processId()), SIGCONT);
    }

    // Connections beyond the listener's limit are answered 503 and closed; the
    // others are served, and once one goes, another comes in.
    void crowd()
    {
        bridge::HttpServer http("");
        http.setMaxConnections(3);
        QVERIFY(http.listen(QHostAddress::LocalHost, 0));
        std::vector<std::unique_ptr<QTcpSocket>> open;
        for (int i = 0; i < 3; ++i) {
            open.push_back(std::make_unique<QTcpSocket>());
            open.back()->connectToHost(QHostAddress::LocalHost, http.port());
            QVERIFY(open.back()->waitForConnected(kWait));
        }
        const QByteArray request = "GET /api/projectors HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(http.port()) + "\r\nConnection: close\r\n\r\n";
        QTRY_COMPARE_WITH_TIMEOUT(ask(http.port(), request).first, 503, kWait);
        open[0]->write(request);
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer += open[0]->readAll()).startsWith("HTTP/1.1 200"), kWait);
        open.pop_back();
        QTRY_COMPARE_WITH_TIMEOUT(ask(http.port(), request).first, 200, kWait);
        // A thousand at once, and one that drips a byte at a time: refused and timed
        // out, and the next is served.
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
        setrlimit(RLIMIT_NOFILE, &files);
        open.clear();
        for (int batch = 0; batch < 20; ++batch) {  // 50 at a time: within the kernel's backlog
            std::vector<std::unique_ptr<QTcpSocket>> crowd(50);
            for (auto &one : crowd) {
                one = std::make_unique<QTcpSocket>();
                one->connectToHost(QHostAddress::LocalHost, http.port());
            }
            QTRY_VERIFY_WITH_TIMEOUT(std::count_if(crowd.begin(), crowd.end(), [](const auto &one) {
                                         return one->state() == QAbstractSocket::UnconnectedState;
                                     }) >= 47, kWait);  // all but the three the listener takes
        }
        QTRY_COMPARE_WITH_TIMEOUT(ask(http.port(), request).first, 200, kWait);
        http.setRequestTimeout(300);
        QTcpSocket drip;
        drip.connectToHost(QHostAddress::LocalHost, http.port());
        QVERIFY(drip.waitForConnected(kWait));
        QByteArray dripped;
        for (int i = 0; i < 20 && drip.state() == QAbstractSocket::ConnectedState; ++i) {
            drip.write(request.mid(i, 1));
            QTest::qWait(50);
            dripped += drip.readAll();
        }
        QVERIFY2(dripped.startsWith("HTTP/1.1 408"), dripped.constData());
        QTRY_COMPARE_WITH_TIMEOUT(ask(http.port(), request).first, 200, kWait);
        // A WebSocket's connection counts until it is gone, like any.
        for (int i = 0; i < 6; ++i) {
            QWebSocket page(QStringLiteral("http://127.0.0.1:%1").arg(http.port()));
            page.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(http.port())));
            QTRY_COMPARE_WITH_TIMEOUT(page.state(), QAbstractSocket::ConnectedState, kWait);
            page.close();
            QTRY_COMPARE_WITH_TIMEOUT(page.state(), QAbstractSocket::UnconnectedState, kWait);
        }
    }

    // The login form's session: its cookie opens the pages until it has gone unused
    // for the idle time.
    void session()
    {
        bridge::HttpServer http("secret");
        http.setSessionIdle(300);
        QVERIFY(http.listen(QHostAddress::LocalHost, 0));
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(http.port()) + "\r\nConnection: close\r\n";
        QTcpSocket login;
        login.connectToHost(QHostAddress::LocalHost, http.port());
        login.write("POST /login HTTP/1.1\r\n" + host + "Content-Length: 15\r\n\r\npassword=secret");
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer += login.readAll()).contains("\r\n\r\n"), kWait);
        const qsizetype at = answer.indexOf("orva-session=");
        QVERIFY2(answer.startsWith("HTTP/1.1 303") && at > 0, answer.constData());
        const QByteArray page = "GET / HTTP/1.1\r\n" + host + "Cookie: " + answer.mid(at, answer.indexOf(';', at) - at) + "\r\n\r\n";
        QCOMPARE(ask(http.port(), page).first, 200);
        QTest::qWait(200);
        QCOMPARE(ask(http.port(), page).first, 200);  // used again within the idle time
        QTest::qWait(400);
        QCOMPARE(ask(http.port(), page).first, 303);
        http.setMetrics([] { return QByteArray(); }, true);  // metrics-public
        QCOMPARE(ask(http.port(), "GET /metrics HTTP/1.1\r\n" + host + "\r\n").first, 200);
    }

    // After five wrong passwords from an address, each of its answers waits (a
    // second, doubling with each wrong one), the right one's too; after a right
    // one, none. The slowing is logged once.
    void guesser()
    {
        bridge::HttpServer http("secret");
        QStringList log;
        QObject::connect(&http, &bridge::HttpServer::logLine, [&](const QString &text) { log << text; });
        QVERIFY(http.listen(QHostAddress::LocalHost, 0));
        const auto timed = [&](const QByteArray &credentials) {
            QElapsedTimer t;
            t.start();
            const int status = ask(http.port(), "GET /api/projectors/x HTTP/1.1\r\nHost: localhost:" + QByteArray::number(http.port())
                                                    + "\r\nConnection: close\r\nAuthorization: Basic " + credentials.toBase64() + "\r\n\r\n").first;
            return std::pair{status, int(t.elapsed() / 1000)};  // whole seconds waited
        };
        for (int i = 0; i < 5; ++i)
            QCOMPARE(timed("u:wrong"), std::pair(401, 0));
        QCOMPARE(timed("u:wrong"), std::pair(401, 1));
        QCOMPARE(timed("u:secret"), std::pair(404, 2));  // the wait doubled
        QCOMPARE(timed("u:secret"), std::pair(404, 0));
        QCOMPARE(log, QStringList{"HTTP: wrong passwords from 127.0.0.1: its further attempts are delayed"});
    }

    // HTTPS with a certificate made by openssl: answered over TLS; a plain request
    // on its port gets no answer, and is logged once.
    void tls()
    {
        QTemporaryDir dir;
        const QString cert = dir.filePath(QStringLiteral("c.pem")), key = dir.filePath(QStringLiteral("k.pem"));
        if (runProgram(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-addext",
                                                   "subjectAltName=IP:127.0.0.1", "-days", "2", "-keyout", key, "-out", cert})
                .status != 0)
            QSKIP("no openssl");
        QFile c(cert), k(key);
        QVERIFY(c.open(QIODevice::ReadOnly) && k.open(QIODevice::ReadOnly));
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(QSslCertificate::fromData(c.readAll()));
        tls.setPrivateKey(QSslKey(k.readAll(), QSsl::Rsa));
        bridge::HttpServer http("");
        QStringList log;
        QObject::connect(&http, &bridge::HttpServer::logLine, [&](const QString &text) { log << text.left(33); });
        http.setTls(tls);
        QVERIFY(http.listen(QHostAddress::LocalHost, 0));
        QSslSocket socket;
        QSslConfiguration client = QSslConfiguration::defaultConfiguration();
        client.setCaCertificates(tls.localCertificateChain());
        socket.setSslConfiguration(client);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), http.port());
        socket.write("GET /api/projectors/x HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(http.port()) + "\r\nConnection: close\r\n\r\n");
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer += socket.readAll()).endsWith("}"), kWait);
        QVERIFY2(answer.startsWith("HTTP/1.1 404"), answer.constData());
        for (int i = 0; i < 2; ++i)
            QCOMPARE(ask(http.port(), "GET /api/projectors HTTP/1.1\r\n\r\n").first, 0);
        QCOMPARE(log, QStringList{"HTTP: a TLS handshake failed: Err"});
    }
};

QTEST_GUILESS_MAIN(TstHttp)
#include "tst_http.moc"
