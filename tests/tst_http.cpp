// The bridge's HTTP API against orva-sim projectors: each request's answer, and
// the codes each projector heard.

#include "BridgeSupport.h"
#include "HttpServer.h"
#include "ProjectorQueue.h"
#include "ProjectorState.h"
#include "ReferenceRows.h"
#include "SimulatorProcess.h"

#include <QElapsedTimer>
#include <QTest>

#include <memory>

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

    // After five wrong passwords from an address, each of its answers waits, the
    // right one's too; after a right one, none. The slowing is logged once.
    void guesser()
    {
        bridge::HttpServer http("secret");
        QStringList log;
        QObject::connect(&http, &bridge::HttpServer::logLine, [&](const QString &text) { log << text; });
        QVERIFY(http.listen(QHostAddress::LocalHost, 0));
        const auto timed = [&](const QByteArray &credentials) {
            QElapsedTimer t;
            t.start();
            const int status = ask(http.port(), "GET /api/projectors/x HTTP/1.1\r\nConnection: close\r\nAuthorization: Basic "
                                                    + credentials.toBase64() + "\r\n\r\n").first;
            return std::pair{status, t.elapsed() >= 900};
        };
        for (int i = 0; i < 5; ++i)
            QCOMPARE(timed("u:wrong"), std::pair(401, false));
        QCOMPARE(timed("u:wrong"), std::pair(401, true));
        QCOMPARE(timed("u:secret"), std::pair(404, true));
        QCOMPARE(timed("u:secret"), std::pair(404, false));
        QCOMPARE(log, QStringList{"HTTP: wrong passwords from 127.0.0.1: its further attempts are delayed"});
    }
};

QTEST_GUILESS_MAIN(TstHttp)
#include "tst_http.moc"
