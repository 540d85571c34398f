// orva-soak: runs the panel (offscreen) against orva-sim for a given number of
// minutes while keys are held and buttons clicked at random, switching the
// simulator through its misbehaving modes (silence, garbage, split replies, flood,
// late replies) and pulling the port away now and then. Reports commands sent,
// reply characters traced, warnings, crashes and memory growth.
//   orva-soak [--minutes N] [--sim PATH] [--seed N]
// The panel runs in a child process so that a crash is counted, not fatal.

#include "keys/CommandTable.h"
#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "panel/WindowRuntime.h"
#include "serial/QtSerialControl.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <vector>

namespace {

long rssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Counts what passes through the serial control.
class CountingSerial final : public SerialControl {
public:
    explicit CountingSerial(QtSerialControl &inner) : m_inner(inner)
    {
        connect(&inner, &SerialControl::onComm, this, &SerialControl::onComm);
        connect(&inner, &SerialControl::portLost, this, &SerialControl::portLost);
    }
    SerialResult setCommPort(int p) override { return m_inner.setCommPort(p); }
    int commPort() const override { return m_inner.commPort(); }
    SerialResult setSettings(const QString &s) override { return m_inner.setSettings(s); }
    QString settings() const override { return m_inner.settings(); }
    bool portOpen() const override { return m_inner.portOpen(); }
    SerialResult setPortOpen(bool open) override { return m_inner.setPortOpen(open); }
    SerialResult output(const QString &text) override
    {
        SerialResult r = m_inner.output(text);
        (r ? unsent : sent) += 1;
        return r;
    }
    QString input() override
    {
        QString s = m_inner.input();
        received += s.size();
        return s;
    }
    int commEvent() const override { return m_inner.commEvent(); }

    qint64 sent = 0, unsent = 0, received = 0;

private:
    QtSerialControl &m_inner;
};

struct Mode {
    const char *name;
    QStringList args;
    bool vanish;  // pull the port away during this phase
};

const Mode kModes[] = {
    {"normal", {}, false},
    {"silent", {"--silent"}, false},
    {"garbage", {"--garbage"}, false},
    {"split", {"--split", "1", "--split-gap-ms", "5"}, false},
    {"flood", {"--flood"}, false},
    {"late", {"--delay-ms", "700"}, false},
    {"vanishing port", {}, true},
};

int runPanel(const QString &simPath, double minutes, quint32 seed)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("com1"));
    QProcess sim;
    auto startSim = [&](const Mode &mode) {
        sim.kill();
        sim.waitForFinished(3000);
        sim.start(simPath, QStringList{"--on", "--countdown-ms", "500", "--cooldown-ms", "500"} + mode.args);
        sim.waitForStarted(5000);
        QString pty;
        for (int i = 0; i < 100 && pty.isEmpty(); ++i) {
            sim.waitForReadyRead(100);
            pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
        }
        QFile::remove(link);
        QFile::link(pty, link);
    };
    startSim(kModes[0]);

    registerFontSubstitutions();
    QtSerialControl port({{1, link}, {2, link}}, panelWording());
    CountingSerial serial(port);
    RecordingRuntime runtime;
    runtime.screen = {1280, 1024};
    runtime.onWarning = [&runtime] {
        std::fprintf(stderr, "warning: %s\n", qPrintable(QString(runtime.warnings.last()).replace(u'\n', u' ')));
    };
    Form1 form(serial, runtime);
    form.start();
    form.setOuterHeightTwips(9100);
    form.show();

    QRandomGenerator rng(seed);
    auto button = [&form](std::string_view name) {
        return qobject_cast<PanelButton *>(form.control(QString::fromLatin1(name.data(), qsizetype(name.size()))));
    };
    std::vector<std::string_view> repeatKeys, oneShots;
    for (const keys::Command &c : keys::kCommands)
        (c.repeats() ? repeatKeys : oneShots).push_back(c.control);
    PanelButton *held = nullptr;
    QElapsedTimer heldFor;
    qint64 heldUntil = 0;

    QElapsedTimer clock;
    clock.start();
    const qint64 total = qint64(minutes * 60000);
    const qint64 phase = std::max<qint64>(5000, total / 14);
    int phaseIndex = 0;
    long rssStart = -1, rssEnd = -1;
    qint64 nextRssSample = 60000;
    qint64 nextPhase = phase;
    std::fprintf(stderr, "phase: %s\n", kModes[0].name);

    while (clock.elapsed() < total) {
        QTest::qWait(int(rng.bounded(20, 80)));
        const qint64 now = clock.elapsed();
        if (rssStart < 0 && now > 10000)
            rssStart = rssKiB();
        if (now >= nextRssSample) {
            std::printf("minute %lld: RSS %ld KiB, commands %lld, reply chars %lld\n", nextRssSample / 60000, rssKiB(),
                        serial.sent, serial.received);
            std::fflush(stdout);
            nextRssSample += 60000;
        }
        if (now >= nextPhase) {
            nextPhase += phase;
            const Mode &mode = kModes[++phaseIndex % std::size(kModes)];
            std::fprintf(stderr, "phase: %s\n", mode.name);
            startSim(mode);  // the old port goes away with the old simulator
            if (mode.vanish)
                continue;
            // Choose the port again, as an operator would after the notice.
            auto *com1 = qobject_cast<QRadioButton *>(form.control(QStringLiteral("Option1")));
            auto *com2 = qobject_cast<QRadioButton *>(form.control(QStringLiteral("Option2")));
            (com1->isChecked() ? com2 : com1)->setChecked(true);
        }
        if (held && heldFor.elapsed() >= heldUntil) {
            QTest::mouseRelease(held, Qt::LeftButton);
            held = nullptr;
        }
        const quint32 action = rng.bounded(100);
        if (!held && action < 25) {
            held = button(repeatKeys[rng.bounded(int(repeatKeys.size()))]);
            QTest::mousePress(held, action < 20 ? Qt::LeftButton : Qt::RightButton);
            heldFor.start();
            heldUntil = rng.bounded(50, 1500);
        } else if (action < 85) {
            PanelButton *b = button(oneShots[rng.bounded(int(oneShots.size()))]);
            if (b != held)
                QTest::mouseClick(b, Qt::LeftButton);
        } else if (action < 90) {
            qobject_cast<QLineEdit *>(form.control(QStringLiteral("Text1")))->setText(
                QStringList{"CR0", "CR PRESSURE", "CR9", "CRA", "CR7", "", "cr0"}.at(rng.bounded(7)));
            QTest::mouseClick(button("Command95"), Qt::LeftButton);
        } else if (action < 92) {
            form.keyPreview(72, 2);
        } else if (action < 94) {
            QTest::mouseClick(button("Command34"), Qt::LeftButton);
            form.setOuterHeightTwips(9100);
        }
    }
    if (held)
        QTest::mouseRelease(held, Qt::LeftButton);
    rssEnd = rssKiB();
    sim.kill();
    sim.waitForFinished(3000);
    std::printf("commands sent        %lld (not sent while the port was closed: %lld)\n", serial.sent, serial.unsent);
    std::printf("reply chars traced   %lld\n", serial.received);
    std::printf("warnings             %lld\n", qlonglong(runtime.warnings.size()));
    std::printf("RSS after 10 s       %ld KiB\n", rssStart);
    std::printf("RSS at the end       %ld KiB (growth %+ld KiB)\n", rssEnd, rssEnd - rssStart);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    double minutes = 1;
    QString simPath;
    quint32 seed = 1;
    bool child = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        if (a == "--minutes" && i + 1 < argc)
            minutes = QByteArray(argv[++i]).toDouble();
        else if (a == "--sim" && i + 1 < argc)
            simPath = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--seed" && i + 1 < argc)
            seed = QByteArray(argv[++i]).toUInt();
        else if (a == "--child")
            child = true;
        else {
            std::fprintf(stderr, "usage: orva-soak [--minutes N] [--sim PATH] [--seed N]\n");
            return 2;
        }
    }
    if (child) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
            if (type != QtWarningMsg || !msg.contains(QLatin1String("propagateSizeHints")))
                std::fprintf(stderr, "%s\n", qPrintable(msg));
        });
        QApplication app(argc, argv);
        return runPanel(simPath, minutes, seed);
    }
    QCoreApplication app(argc, argv);
    if (simPath.isEmpty())
        simPath = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../orva-sim"));
    QProcess panel;
    panel.setProcessChannelMode(QProcess::ForwardedChannels);
    panel.start(QCoreApplication::applicationFilePath(),
                {"--child", "--minutes", QString::number(minutes), "--sim", simPath, "--seed", QString::number(seed)});
    panel.waitForFinished(int(minutes * 60000) + 120000);
    const bool crashed = panel.exitStatus() == QProcess::CrashExit || panel.exitCode() != 0;
    std::printf("crashes              %d\n", crashed ? 1 : 0);
    return crashed ? 1 : 0;
}
