// The port frame and the port and speed choices: the COM button and the frame
// timer, choosing COM1/COM2 (present, absent, after an earlier failure), choosing
// the speed (in place on an open port, kept on a closed one), and a port that goes
// away while the panel runs. The fake serial control records every operation; a
// pseudo-terminal stands in for a real device where the driver's view matters.

#include "PanelHarness.h"
#include "serial/QtSerialControl.h"

#include <QApplication>
#include <QSignalSpy>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A pseudo-terminal: the panel opens the slave by its path, the test holds the
// master end (and the slave fd, to read the line settings).
class Pty {
public:
    Pty()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = QString::fromLocal8Bit(name);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty()
    {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    QByteArray readAll() const
    {
        QByteArray out;
        char buf[256];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            out.append(buf, n);
        return out;
    }
    speed_t speed() const
    {
        termios t{};
        tcgetattr(slave, &t);
        return cfgetospeed(&t);
    }

    int master = -1, slave = -1;
    QString path;
};

// A panel window on a real serial control whose ports are pseudo-terminal paths.
struct PtyPanel {
    QtSerialControl serial;
    RecordingRuntime runtime;
    std::unique_ptr<Form1> form;

    explicit PtyPanel(QMap<int, QString> devices) : serial(std::move(devices))
    {
        registerFontSubstitutions();
        form = std::make_unique<Form1>(serial, runtime);
        form->Form_Load();
        form->show();
        QCoreApplication::processEvents();
    }
    template <typename T = QWidget> T *w(const char *name) const
    {
        return qobject_cast<T *>(form->control(QString::fromLatin1(name)));
    }
    void click(const char *name) const { QTest::mouseClick(w<PanelButton>(name), Qt::LeftButton); }
};

const QStringList kStartUpLog{"CommPort=1", "Settings=19200,N,8,1", "PortOpen=1", "PortOpen=0", "CommPort=1", "PortOpen=1"};

// One tick of a timer, delivered at once (its signal cannot be emitted from outside).
void tick(QTimer &timer)
{
    QVERIFY(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
}

// Clicks an option on its indicator, as the operator does.
void choose(QRadioButton *option)
{
    QVERIFY(option);
    QVERIFY2(option->isVisible(), "the port frame must be shown to choose in it");
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
}

QRadioButton *option(const Panel &p, int port)
{
    return p.w<QRadioButton>(port == 1 ? "Option1" : "Option2");
}

// The options as the operator sees them: 1 or 2 for the one shown selected, 0 for none.
int shownPort(const Panel &p)
{
    const bool one = p.w<QRadioButton>("Option1")->isChecked();
    const bool two = p.w<QRadioButton>("Option2")->isChecked();
    if (one && two)
        return -1;
    return one ? 1 : two ? 2 : 0;
}

} // namespace

class TstPorts : public QObject {
    Q_OBJECT
private slots:
    // --- start-up ---

    void startUpOpensComOne()
    {
        Panel p;
        QCOMPARE(p.serial.log, kStartUpLog);
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), 1);
        QVERIFY(!p.w("Frame8")->isVisible());
        QVERIFY(!p.form->Timer3.isActive());
        QCOMPARE(p.form->Timer3.interval(), 5000);
        QCOMPARE(shownPort(p), 1);
        QVERIFY(p.w<QRadioButton>("Option9")->isChecked());
        QVERIFY(!p.w<QRadioButton>("Option10")->isChecked());
        QVERIFY(p.runtime.warnings.isEmpty());
    }

    void captions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Option1") << "Option1" << "COM1";
        QTest::newRow("Option2") << "Option2" << "COM2";
        QTest::newRow("Option9") << "Option9" << "19200";
        QTest::newRow("Option10") << "Option10" << "9600";
    }
    void captions()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        Panel p;
        auto *o = p.w<QRadioButton>(name.toLatin1().constData());
        QVERIFY(o);
        QCOMPARE(o->text(), caption);
        // The speeds sit in their own group inside the port frame.
        const QString group = name == QLatin1String("Option9") || name == QLatin1String("Option10") ? "Frame13" : "Frame8";
        QCOMPARE(o->parentWidget(), p.w(group.toLatin1().constData()));
        QCOMPARE(p.w("Frame13")->parentWidget(), p.w("Frame8"));
    }

    void startUpWithComOneUnopenable_data()
    {
        QTest::addColumn<QString>("description");
        QTest::newRow("absent") << "No such file or directory: /dev/ttyS0";
        QTest::newRow("busy") << "Device is busy (held by another program): /dev/ttyS0";
    }
    void startUpWithComOneUnopenable()
    {
        QFETCH(QString, description);
        Panel p(false, false);
        p.serial.unopenable[1] = description;
        bool visibleWhenWarned = false;
        p.runtime.onWarning = [&] { visibleWhenWarned = p.form->isVisible(); };
        p.form->Form_Load();
        QVERIFY(p.runtime.warnings.isEmpty());
        p.form->show();
        QTRY_COMPARE(p.runtime.warnings.size(), 1);
        QCOMPARE(p.runtime.warnings.first(), description);
        QVERIFY(visibleWhenWarned);
        QCoreApplication::processEvents();
        QCOMPARE(p.runtime.warnings.size(), 1);
        QVERIFY(!p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), 2);  // the failed COM1 choice falls back to COM2, unopened
        QCOMPARE(p.serial.openCount, 0);
        QCOMPARE(shownPort(p), 0);
        QVERIFY(!p.w("Frame8")->isVisible());
        QVERIFY(!p.form->Timer3.isActive());
    }

    // --- the COM button and the frame timer ---

    void comButtonShowsFrameUntilTimerTick()
    {
        Panel p;
        p.serial.log.clear();
        p.click("Command33");
        QVERIFY(p.w("Frame8")->isVisible());
        QVERIFY(p.w<QRadioButton>("Option1")->isVisible());
        QVERIFY(p.w<QRadioButton>("Option10")->isVisible());
        QVERIFY(p.form->Timer3.isActive());
        QCOMPARE(p.form->Timer3.interval(), 5000);
        QVERIFY(p.serial.log.isEmpty());  // showing the frame touches no port

        tick(p.form->Timer3);
        QVERIFY(!p.w("Frame8")->isVisible());
        QVERIFY(!p.form->Timer3.isActive());  // one tick, then no more

        // The button shows it again, and a second press while shown keeps it shown.
        p.click("Command33");
        p.click("Command33");
        QVERIFY(p.w("Frame8")->isVisible());
        QVERIFY(p.form->Timer3.isActive());
        tick(p.form->Timer3);
        QVERIFY(!p.w("Frame8")->isVisible());
        QVERIFY(!p.form->Timer3.isActive());
        QVERIFY(p.serial.log.isEmpty());
        QVERIFY(p.runtime.warnings.isEmpty());
    }

    // --- choosing the port ---

    void choosePresentPort_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("COM1 -> COM2") << 1 << 2;
        QTest::newRow("COM2 -> COM1") << 2 << 1;
    }
    void choosePresentPort()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        Panel p;
        if (from == 2) {
            p.click("Command33");
            choose(option(p, 2));
            QCOMPARE(p.serial.commPort(), 2);
        }
        p.serial.log.clear();
        p.click("Command33");
        choose(option(p, to));
        QCOMPARE(p.serial.log, (QStringList{"PortOpen=0", QStringLiteral("CommPort=%1").arg(to), "PortOpen=1"}));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), to);
        QCOMPARE(shownPort(p), to);
        QVERIFY(!p.w("Frame8")->isVisible());
        QVERIFY(p.form->Timer3.isActive());  // the frame timer is left running
        QCOMPARE(p.serial.settings(), QStringLiteral("19200,N,8,1"));
        QCOMPARE(p.state().CommSettings, QStringLiteral("19200,N,8,1"));
        QVERIFY(p.runtime.warnings.isEmpty());
        // Its tick finds the frame hidden already and stops.
        tick(p.form->Timer3);
        QVERIFY(!p.form->Timer3.isActive());
        QVERIFY(!p.w("Frame8")->isVisible());
        QCOMPARE(p.serial.log.size(), 3);
    }

    void chooseAbsentPort_data()
    {
        QTest::addColumn<int>("inUse");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QString>("description");
        QTest::newRow("COM2 absent, COM1 in use") << 1 << 2 << "No such file or directory: /dev/ttyS1";
        QTest::newRow("COM2 busy, COM1 in use") << 1 << 2 << "Device is busy (held by another program): /dev/ttyS1";
        QTest::newRow("COM1 absent, COM2 in use") << 2 << 1 << "No such file or directory: /dev/ttyS0";
    }
    void chooseAbsentPort()
    {
        QFETCH(int, inUse);
        QFETCH(int, chosen);
        QFETCH(QString, description);
        Panel p;
        if (inUse == 2) {
            p.click("Command33");
            choose(option(p, 2));
            tick(p.form->Timer3);
        }
        p.serial.unopenable[chosen] = description;
        p.serial.log.clear();
        QStringList logWhenWarned;
        bool openWhenWarned = true;
        p.runtime.onWarning = [&] {
            logWhenWarned = p.serial.log;
            openWhenWarned = p.serial.portOpen();
        };
        p.click("Command33");
        choose(option(p, chosen));

        QCOMPARE(p.runtime.warnings, QStringList{description});
        // The box comes first, the port in use is opened again after it.
        QCOMPARE(logWhenWarned, (QStringList{"PortOpen=0", QStringLiteral("CommPort=%1").arg(chosen), "PortOpen=1"}));
        QVERIFY(!openWhenWarned);
        QCOMPARE(p.serial.log, (QStringList{"PortOpen=0", QStringLiteral("CommPort=%1").arg(chosen), "PortOpen=1",
                                            QStringLiteral("CommPort=%1").arg(inUse), "PortOpen=1"}));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), inUse);
        QCOMPARE(shownPort(p), inUse);
        QVERIFY(!option(p, chosen)->isChecked());
        QVERIFY(p.w("Frame8")->isVisible());
        QVERIFY(p.form->Timer3.isActive());
        QCOMPARE(p.serial.settings(), QStringLiteral("19200,N,8,1"));

        // The frame still goes at the timer's tick.
        tick(p.form->Timer3);
        QVERIFY(!p.w("Frame8")->isVisible());
        QCOMPARE(p.runtime.warnings.size(), 1);
        QCOMPARE(p.serial.log.size(), 5);
    }

    void absentPortWhileNoneOpen()
    {
        // The port was lost; choosing an absent port leaves no port in use.
        Panel p;
        p.serial.loseDevice(QStringLiteral("Input/output error"));
        QCOMPARE(p.runtime.warnings.size(), 1);
        p.serial.unopenable[2] = QStringLiteral("No such file or directory: /dev/ttyS1");
        p.serial.log.clear();
        p.click("Command33");
        choose(option(p, 2));
        QCOMPARE(p.runtime.warnings.size(), 2);
        QCOMPARE(p.runtime.warnings.last(), QStringLiteral("No such file or directory: /dev/ttyS1"));
        QCOMPARE(p.serial.log, (QStringList{"CommPort=2", "PortOpen=1", "CommPort=1"}));
        QVERIFY(!p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), 1);
        QCOMPARE(shownPort(p), 0);
        QVERIFY(p.w("Frame8")->isVisible());
    }

    void laterChoiceAfterFailureOpens()
    {
        Panel p;
        p.serial.unopenable[2] = QStringLiteral("No such file or directory: /dev/ttyS1");
        p.click("Command33");
        choose(option(p, 2));
        QCOMPARE(p.runtime.warnings.size(), 1);
        QCOMPARE(shownPort(p), 1);

        // The adapter is plugged in; the operator tries again.
        p.serial.unopenable.remove(2);
        p.serial.log.clear();
        choose(option(p, 2));
        QCOMPARE(p.serial.log, (QStringList{"PortOpen=0", "CommPort=2", "PortOpen=1"}));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), 2);
        QCOMPARE(shownPort(p), 2);
        QVERIFY(!p.w("Frame8")->isVisible());
        QCOMPARE(p.runtime.warnings.size(), 1);
    }

    void choiceAfterStartUpFailureOpens()
    {
        Panel p(false, false);
        p.serial.unopenable[1] = QStringLiteral("No such file or directory: /dev/ttyS0");
        p.form->Form_Load();
        p.form->show();
        QTRY_COMPARE(p.runtime.warnings.size(), 1);
        QCOMPARE(shownPort(p), 0);

        p.serial.unopenable.remove(1);
        p.serial.log.clear();
        p.click("Command33");
        choose(option(p, 1));
        QCOMPARE(p.serial.log, (QStringList{"CommPort=1", "PortOpen=1"}));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), 1);
        QCOMPARE(shownPort(p), 1);
        QVERIFY(!p.w("Frame8")->isVisible());
        QCOMPARE(p.runtime.warnings.size(), 1);
        QCOMPARE(p.serial.settings(), QStringLiteral("19200,N,8,1"));
    }

    // --- choosing the speed ---

    void chooseSpeed_data()
    {
        QTest::addColumn<QStringList>("choices");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("9600") << QStringList{"Option10"} << "9600,N,8,1" << QStringList{"Settings=9600,N,8,1"};
        QTest::newRow("9600 then 19200") << QStringList{"Option10", "Option9"} << "19200,N,8,1"
                                         << QStringList{"Settings=9600,N,8,1", "Settings=19200,N,8,1"};
    }
    void chooseSpeed()
    {
        QFETCH(QStringList, choices);
        QFETCH(QString, settings);
        QFETCH(QStringList, log);
        Panel p;
        p.serial.log.clear();
        for (const QString &c : choices) {
            p.click("Command33");
            choose(p.w<QRadioButton>(c.toLatin1().constData()));
            QVERIFY(!p.w("Frame8")->isVisible());
            QVERIFY(p.serial.portOpen());
        }
        QCOMPARE(p.serial.log, log);  // put on the open port: no close, no open
        QCOMPARE(p.serial.settings(), settings);
        QCOMPARE(p.state().CommSettings, settings);
        QCOMPARE(p.serial.commPort(), 1);
        QCOMPARE(shownPort(p), 1);
        QCOMPARE(p.serial.openCount, 2);  // the two of start-up
        QVERIFY(p.runtime.warnings.isEmpty());
    }

    void speedOnClosedPortIsKeptForTheNextOpen()
    {
        Panel p;
        p.serial.loseDevice();
        p.serial.log.clear();
        p.click("Command33");
        choose(p.w<QRadioButton>("Option10"));
        QCOMPARE(p.serial.log, QStringList{"Settings=9600,N,8,1"});
        QVERIFY(!p.serial.portOpen());
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));
        QVERIFY(!p.w("Frame8")->isVisible());

        p.click("Command33");
        choose(option(p, 1));
        QCOMPARE(p.serial.log, (QStringList{"Settings=9600,N,8,1", "CommPort=1", "PortOpen=1"}));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));
    }

    void speedChangesInPlaceOnARealLine()
    {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        PtyPanel p({{1, pty.path}});
        QVERIFY(p.runtime.warnings.isEmpty());
        QVERIFY(p.serial.portOpen());
        QCOMPARE(pty.speed(), speed_t(B19200));

        // A byte before the change...
        p.click("Command17");
        QByteArray wire;
        QTRY_COMPARE_WITH_TIMEOUT((wire += pty.readAll()), QByteArray("C00\r"), 5000);

        p.click("Command33");
        choose(p.w<QRadioButton>("Option10"));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(pty.speed(), speed_t(B9600));
        QCOMPARE(p.serial.deviceBaudRate(), 9600);
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));
        QVERIFY(!p.w("Frame8")->isVisible());

        // ...and after it arrive on the same open line.
        wire.clear();
        QVERIFY(!p.serial.output(QStringLiteral("C01\r")));
        QTRY_COMPARE_WITH_TIMEOUT((wire += pty.readAll()), QByteArray("C01\r"), 5000);
        QVERIFY(p.serial.portOpen());

        p.click("Command33");
        choose(p.w<QRadioButton>("Option9"));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(pty.speed(), speed_t(B19200));
        QVERIFY(p.runtime.warnings.isEmpty());
    }

    void speedOnClosedRealLineAppliesAtOpen()
    {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        PtyPanel p({{1, pty.path}, {2, pty.path}});
        QCOMPARE(pty.speed(), speed_t(B19200));
        QVERIFY(!p.serial.setPortOpen(false));

        p.click("Command33");
        choose(p.w<QRadioButton>("Option10"));
        QVERIFY(!p.serial.portOpen());
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));

        p.click("Command33");
        choose(p.w<QRadioButton>("Option2"));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), 2);
        QCOMPARE(pty.speed(), speed_t(B9600));
        QVERIFY(p.runtime.warnings.isEmpty());
    }

    // --- the port going away ---

    void portVanishes_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("description");
        QTest::newRow("COM1, I/O error") << 1 << "Input/output error";
        QTest::newRow("COM2, unplugged") << 2 << "The device was removed: /dev/ttyUSB0";
    }
    void portVanishes()
    {
        QFETCH(int, port);
        QFETCH(QString, description);
        Panel p;
        if (port == 2) {
            p.click("Command33");
            choose(option(p, 2));
        }
        p.serial.log.clear();
        p.serial.loseDevice(description);
        QVERIFY(!p.serial.portOpen());
        QCOMPARE(p.runtime.warnings.size(), 1);
        QVERIFY2(p.runtime.warnings.first().contains(description), qPrintable(p.runtime.warnings.first()));
        QCOMPARE(shownPort(p), 0);
        QCOMPARE(p.serial.log, QStringList{"Lost"});

        // The panel still runs: a command is traced, nothing goes out.
        p.serial.written.clear();
        p.click("Command17");
        QCOMPARE(p.txd(), QStringLiteral(" C 0 0 CR "));
        QVERIFY(p.serial.written.isEmpty());
        QCOMPARE(p.runtime.warnings.size(), 1);

        // Choosing the port opens it again.
        p.serial.log.clear();
        p.click("Command33");
        choose(option(p, port));
        QCOMPARE(p.serial.log, (QStringList{QStringLiteral("CommPort=%1").arg(port), "PortOpen=1"}));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(shownPort(p), port);
        QVERIFY(!p.w("Frame8")->isVisible());
        QCOMPARE(p.runtime.warnings.size(), 1);
    }

    void realLineHangsUp()
    {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        PtyPanel p({{1, pty.path}});
        QVERIFY(p.serial.portOpen());
        QVERIFY(p.runtime.warnings.isEmpty());

        pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(p.runtime.warnings.size(), 1, 10000);
        QVERIFY(!p.serial.portOpen());
        QVERIFY(!p.w<QRadioButton>("Option1")->isChecked());
        QVERIFY(!p.w<QRadioButton>("Option2")->isChecked());
        // Reported once, not once per failed read.
        QTest::qWait(300);
        QCOMPARE(p.runtime.warnings.size(), 1);
        const QString name = pty.path.mid(pty.path.indexOf(QLatin1String("pts/")));
        QVERIFY2(p.runtime.warnings.first().contains(name), qPrintable(p.runtime.warnings.first()));

        // The panel still answers the operator.
        p.click("Command17");
        QCOMPARE(p.w<PanelLabel>("Label11")->caption(), QStringLiteral(" C 0 0 CR "));
        QCoreApplication::processEvents();
        QCOMPARE(p.runtime.warnings.size(), 1);
    }
};

QTEST_MAIN(TstPorts)
#include "tst_ports.moc"
