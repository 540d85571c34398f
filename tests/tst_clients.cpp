// orva-bridge against clients that misbehave: each may take only its share of
// memory, connections, descriptors and time, and the others are served meanwhile.

#include "BridgeSupport.h"
#include "ProjectorQueue.h"
#include "RawServer.h"
#include "SimulatorProcess.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// orva-sim on a pseudo-terminal and the bridge serving it on PJLink and a raw port.
struct Running {
    SimulatorProcess sim;
    quint16 pjlink = freePort(), raw = freePort();
    std::unique_ptr<Service> service;

    explicit Running(const QStringList &simArguments = {}, const QStringList &more = {}, int descriptors = 0) : sim(simArguments)
    {
        while (raw == pjlink)
            raw = freePort();
        service = std::make_unique<Service>(QStringList{"--device", sim.path, "--pjlink", QString::number(pjlink), "--raw",
                                                        QString::number(raw)} + more,
                                            2, descriptors);
    }
    // How often the bridge has logged `line` (after its "orva-bridge: ").
    qsizetype logged(const QByteArray &line) { return service->said().count("orva-bridge: " + line + '\n'); }
    // A field of /proc/PID/stat or status: the CPU time (utime + stime) in clock
    // ticks, the resident memory in kB.
    qint64 cpuTicks() { return statFields().at(11).toLongLong() + statFields().at(12).toLongLong(); }
    qint64 rssKb()
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(service->process.processId()));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong();
        return -1;
    }
    QList<QByteArray> statFields()
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(service->process.processId()));
        stat.open(QIODevice::ReadOnly);
        const QByteArray all = stat.readAll();
        return all.mid(all.lastIndexOf(')') + 2).split(' ');
    }
};

// `n` connections to `port`, from the addresses given in turn.
std::vector<std::unique_ptr<QTcpSocket>> connections(int n, quint16 port, const QStringList &from)
{
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < n; ++i) {
        auto &s = *sockets.emplace_back(std::make_unique<QTcpSocket>());
        s.bind(QHostAddress(from[i % from.size()]));
        s.connectToHost(QHostAddress::LocalHost, port);
    }
    return sockets;
}

int connected(const std::vector<std::unique_ptr<QTcpSocket>> &sockets)
{
    return int(std::count_if(sockets.begin(), sockets.end(), [](auto &s) { return s->state() == QAbstractSocket::ConnectedState; }));
}

} // namespace

class TstClients : public QObject {
    Q_OBJECT
private slots:
    // A client that sends and never reads takes no more than its share of memory and
    // is closed, with one line; another is served meanwhile.
    void clientThatNeverReads()
    {
        Running bridge;
        const qint64 before = bridge.rssKb();
        QTcpSocket flood;
        flood.setReadBufferSize(64);  // and this side reads no more than that either
        flood.bind(QHostAddress(QStringLiteral("127.0.0.2")));
        flood.connectToHost(QHostAddress::LocalHost, bridge.pjlink);
        const QByteArray requests = QByteArray("%1NAME ?\r").repeated(1000);
        QElapsedTimer sending;
        sending.start();
        while (sending.elapsed() < 3000 && flood.state() != QAbstractSocket::UnconnectedState) {
            if (flood.bytesToWrite() < requests.size())
                flood.write(requests);
            QTest::qWait(5);
        }
        Client other(bridge.pjlink, "127.0.0.3");
        QCOMPARE(other.ask("%1CLSS ?"), QByteArray("%1CLSS=1"));
        QCOMPARE_LT(bridge.rssKb() - before, 30 * 1024);
        const QByteArray closed = "PJLink: a connection from 127.0.0.2 closed: it does not read what it is sent";
        QTRY_COMPARE_WITH_TIMEOUT(bridge.logged(closed), 1, 4 * kWait);
        QCOMPARE(bridge.logged(closed), 1);
        QVERIFY2(!bridge.service->said().contains("device not open"), bridge.service->log.right(300).constData());
    }

    // 40 connections from one address take 8 of each listener; another address is
    // served on both; the refusals are one line per listener.
    void connectionsFromOneAddress()
    {
        Running bridge;
        for (const quint16 port : {bridge.pjlink, bridge.raw}) {
            const auto sockets = connections(40, port, {QStringLiteral("127.0.0.2")});
            QTRY_VERIFY_WITH_TIMEOUT(std::none_of(sockets.begin(), sockets.end(),
                                                  [](auto &s) { return s->state() == QAbstractSocket::ConnectingState; })
                                         && connected(sockets) == 8,
                                     kWait);
            Client pj(bridge.pjlink, "127.0.0.3"), raw(bridge.raw, "127.0.0.3", false);
            QCOMPARE(pj.ask("%1CLSS ?"), QByteArray("%1CLSS=1"));
            QCOMPARE(raw.ask("CR3"), QByteArray("01234"));
            QCOMPARE(connected(sockets), 8);
        }
        QCOMPARE(bridge.logged("PJLink: connections from 127.0.0.2 closed: 8 from it are open already"), 1);
        QCOMPARE(bridge.logged("raw port: connections from 127.0.0.2 closed: 8 from it are open already"), 1);
    }

    // The raw port closes a client silent for its idle time.
    void rawIdleTimeout()
    {
        SimulatorProcess sim({});
        bridge::ProjectorQueue queue(sim.path, QStringLiteral("19200,N,8,1"));
        bridge::RawServer raw(queue);
        raw.setIdleTimeout(300);
        raw.listen(QHostAddress::LocalHost, 0);
        queue.start();
        Client c(raw.port(), "127.0.0.1", false);
        QCOMPARE(c.ask("CR3"), QByteArray("01234"));
        QCOMPARE(c.next(), QByteArray("<closed>"));
    }

    // Out of descriptors: the listener waits, with one line, rather than spin, and
    // takes connections again once descriptors are free.
    void outOfDescriptors()
    {
        Running bridge({}, {"--max-connections", "256"}, 64);
        QStringList from;
        for (int i = 2; i < 22; ++i)
            from << QStringLiteral("127.0.1.%1").arg(i);
        auto sockets = connections(100, bridge.pjlink, from);
        const QByteArray paused = "PJLink: out of descriptors: no connection is taken until one is free";
        QTRY_COMPARE_WITH_TIMEOUT(bridge.logged(paused), 1, kWait);
        const qint64 ticks = bridge.cpuTicks();
        QTest::qWait(3000);
        QCOMPARE_LT(bridge.cpuTicks() - ticks, 3 * sysconf(_SC_CLK_TCK) / 2);
        sockets.clear();
        Client late(bridge.pjlink, "127.0.0.3");
        QCOMPARE(late.greeting, QByteArray("PJLINK 0"));
        QCOMPARE(bridge.logged(paused), 1);
    }

    // Wrong digests from one address: after three, each further attempt, right or
    // wrong, waits longer before it is checked (one line); another address logs in
    // at once. The challenge is 8 hex digits, any of them.
    void passwordGuessing()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("password")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("secret\n") > 0);
        file.close();
        Running bridge({}, {"--password-file", file.fileName()});
        const auto login = [&](const QString &from, const QByteArray &password) {
            Client c(bridge.pjlink, from);
            const QByteArray digest = QCryptographicHash::hash(c.greeting.mid(9) + password, QCryptographicHash::Md5).toHex();
            return std::pair(c.ask(digest + "%1CLSS ?"), std::move(c.greeting));
        };
        const struct {
            const char *from;
            QByteArray password, answer;
            int waitMs;
        } rows[] = {
            {"127.0.0.2", "guess1", "PJLINK ERRA", 0}, {"127.0.0.2", "guess2", "PJLINK ERRA", 0},
            {"127.0.0.2", "guess3", "PJLINK ERRA", 0}, {"127.0.0.3", "secret", "%1CLSS=1", 0},
            {"127.0.0.2", "guess4", "PJLINK ERRA", 1000}, {"127.0.0.3", "secret", "%1CLSS=1", 0},
            {"127.0.0.2", "secret", "%1CLSS=1", 2000},
        };
        for (const auto &[from, password, answer, waitMs] : rows) {
            QElapsedTimer t;
            t.start();
            QCOMPARE(login(from, password).first, answer);
            if (waitMs)
                QCOMPARE_GE(t.elapsed(), waitMs);
            else
                QCOMPARE_LT(t.elapsed(), 2000);
        }
        QCOMPARE(bridge.logged("PJLink: wrong passwords from 127.0.0.2: its further attempts are delayed"), 1);
        QString firstDigits;
        for (int i = 0; i < 64; ++i) {
            const QByteArray greeting = Client(bridge.pjlink, QStringLiteral("127.0.2.%1").arg(i + 1)).greeting;
            QVERIFY2(QRegularExpression(QStringLiteral("PJLINK 1 [0-9a-f]{8}")).match(QString::fromLatin1(greeting)).hasMatch(),
                     greeting.constData());
            firstDigits += QLatin1Char(greeting.at(9));
        }
        QVERIFY2(firstDigits.contains(QRegularExpression(QStringLiteral("[02468ace]"))), qPrintable(firstDigits));
    }

    // A client that shuts its side right after its request still gets the answer.
    void halfClosedClient()
    {
        Running bridge({QStringLiteral("--state"), QStringLiteral("on")});
        Client c(bridge.pjlink);
        c.socket.write("%1POWR 0\r");
        QVERIFY(c.socket.waitForBytesWritten(kWait));
        ::shutdown(int(c.socket.socketDescriptor()), SHUT_WR);
        QCOMPARE(c.next(), QByteArray("%1POWR=OK"));
        QCOMPARE(c.next(), QByteArray("<closed>"));
        QCOMPARE(bridge.sim.heard(), QStringList{"C01"});
    }
};

QTEST_GUILESS_MAIN(TstClients)
#include "tst_clients.moc"
