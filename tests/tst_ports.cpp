// The port frame and the port and speed choices: the COM button and the frame
// timer, choosing COM1/COM2 (present, absent, after an earlier failure), choosing
// the speed (in place on an open port, kept on a closed one), and a port that goes
// away while the panel runs. The fake serial control records every operation; a
// pseudo-terminal stands in for a real device where the driver's view matters.

#include "PanelHarness.h"
#include "TestSupport.h"
#include "serial/QtSerialControl.h"

namespace {

// A panel window on a real serial control whose ports are pseudo-terminal paths.
struct PtyPanel {
    QtSerialControl serial;
    RecordingRuntime runtime;
    std::unique_ptr<Form1> form;

    explicit PtyPanel(QMap<int, QString> devices) : serial(std::move(devices))
    {
        registerFontSubstitutions();
        form = std::make_unique<Form1>(serial, runtime);
        form->start();
        form->show();
        QCoreApplication::processEvents();
    }
    template <typename T = QWidget> T *w(const char *name) const
    {
        return qobject_cast<T *>(form->control(QString::fromLatin1(name)));
    }
    // Shows the port frame and clicks an option on its indicator, as the operator does.
    void choose(const char *option) const
    {
        QTest::mouseClick(w<PanelButton>("Command33"), Qt::LeftButton);
        QTest::mouseClick(w(option), Qt::LeftButton, {}, QPoint(6, w(option)->height() / 2));
    }
};

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

// Shows the port frame and chooses COM1 or COM2.
void choosePort(Panel &p, int port)
{
    p.click("Command33");
    choose(option(p, port));
}

// The options as the operator sees them: 1 or 2 for the one shown selected, 0 for none.
int shownPort(const Panel &p)
{
    const bool one = option(p, 1)->isChecked(), two = option(p, 2)->isChecked();
    return one && two ? -1 : one ? 1 : two ? 2 : 0;
}

QStringList reopenLog(int port)
{
    return {"PortOpen=0", QStringLiteral("CommPort=%1").arg(port), "PortOpen=1"};
}

} // namespace

class TstPorts : public QObject {
    Q_OBJECT
private slots:
    void captions()
    {
        Panel p;
        const std::pair<const char *, const char *> options[] = {
            {"Option1", "COM1"}, {"Option2", "COM2"}, {"Option9", "19200"}, {"Option10", "9600"}};
        for (const auto &[name, caption] : options)
            QCOMPARE(p.w<QRadioButton>(name)->text(), QString::fromLatin1(caption));
    }

    // The COM button shows the frame until the frame timer's one tick; showing it
    // touches no port.
    void comButtonShowsFrameUntilTimerTick()
    {
        Panel p;
        QCOMPARE(p.serial.log, (QStringList{"CommPort=1", "Settings=19200,N,8,1", "PortOpen=1", "PortOpen=0",
                                            "CommPort=1", "PortOpen=1"}));
        QCOMPARE(shownPort(p), 1);
        p.serial.log.clear();
        for (int round = 0; round < 2; ++round) {
            p.click("Command33");
            if (round == 1)
                p.click("Command33");  // a second press while shown keeps it shown
            QVERIFY(p.w("Frame8")->isVisible());
            QVERIFY(option(p, 1)->isVisible() && p.w("Option10")->isVisible());
            QVERIFY(p.form->portFrameTimer.isActive());
            QCOMPARE(p.form->portFrameTimer.interval(), 5000);
            tick(p.form->portFrameTimer);
            QVERIFY(!p.w("Frame8")->isVisible());
            QVERIFY(!p.form->portFrameTimer.isActive());
        }
        QVERIFY(p.serial.log.isEmpty());
        QVERIFY(p.runtime.warnings.isEmpty());
    }

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
        if (from == 2)
            choosePort(p, 2);
        p.serial.log.clear();
        choosePort(p, to);
        QCOMPARE(p.serial.log, reopenLog(to));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), to);
        QCOMPARE(shownPort(p), to);
        QCOMPARE(p.serial.settings(), QStringLiteral("19200,N,8,1"));
        QCOMPARE(p.state().commSettings, QStringLiteral("19200,N,8,1"));
        QVERIFY(p.runtime.warnings.isEmpty());
        // The frame goes at once; the frame timer is left running and its tick stops it.
        QVERIFY(!p.w("Frame8")->isVisible());
        QVERIFY(p.form->portFrameTimer.isActive());
        tick(p.form->portFrameTimer);
        QVERIFY(!p.form->portFrameTimer.isActive());
        QVERIFY(!p.w("Frame8")->isVisible());
        QCOMPARE(p.serial.log.size(), 3);
    }

    // The box with the description comes first, then the port in use is opened again;
    // the frame stays until the timer's tick.
    void chooseAbsentPort_data()
    {
        QTest::addColumn<int>("inUse");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QString>("description");
        QTest::newRow("COM2 absent, COM1 in use") << 1 << 2 << "No such file or directory: /dev/ttyS1";
        QTest::newRow("COM1 busy, COM2 in use") << 2 << 1 << "Device is busy (held by another program): /dev/ttyS0";
    }
    void chooseAbsentPort()
    {
        QFETCH(int, inUse);
        QFETCH(int, chosen);
        QFETCH(QString, description);
        Panel p;
        if (inUse == 2) {
            choosePort(p, 2);
            tick(p.form->portFrameTimer);
        }
        p.serial.unopenable[chosen] = description;
        p.serial.log.clear();
        QStringList logWhenWarned;
        bool openWhenWarned = true;
        p.runtime.onWarning = [&] {
            logWhenWarned = p.serial.log;
            openWhenWarned = p.serial.portOpen();
        };
        choosePort(p, chosen);
        QCOMPARE(p.runtime.warnings, QStringList{description});
        QCOMPARE(logWhenWarned, reopenLog(chosen));
        QVERIFY(!openWhenWarned);
        QCOMPARE(p.serial.log, reopenLog(chosen) << QStringLiteral("CommPort=%1").arg(inUse) << "PortOpen=1");
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), inUse);
        QCOMPARE(shownPort(p), inUse);
        QCOMPARE(p.serial.settings(), QStringLiteral("19200,N,8,1"));
        QVERIFY(p.w("Frame8")->isVisible());
        QVERIFY(p.form->portFrameTimer.isActive());
        tick(p.form->portFrameTimer);
        QVERIFY(!p.w("Frame8")->isVisible());
        QCOMPARE(p.runtime.warnings.size(), 1);
        QCOMPARE(p.serial.log.size(), 5);
    }

    // The port was lost; choosing an absent port leaves no port in use.
    void absentPortWhileNoneOpen()
    {
        Panel p;
        p.serial.loseDevice(QStringLiteral("Input/output error"));
        p.serial.unopenable[2] = QStringLiteral("No such file or directory: /dev/ttyS1");
        p.serial.log.clear();
        choosePort(p, 2);
        QCOMPARE(p.runtime.warnings.size(), 2);
        QCOMPARE(p.runtime.warnings.last(), QStringLiteral("No such file or directory: /dev/ttyS1"));
        QCOMPARE(p.serial.log, (QStringList{"CommPort=2", "PortOpen=1", "CommPort=1"}));
        QVERIFY(!p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), 1);
        QCOMPARE(shownPort(p), 0);
        QVERIFY(p.w("Frame8")->isVisible());
    }

    // A later choice opens the port after any failure: COM1 unopenable at start-up (one
    // warning, shown over the window, no port in use, COM2 left chosen but unopened),
    // or COM2 absent when chosen (COM1 in use again).
    void laterChoiceAfterFailureOpens_data()
    {
        QTest::addColumn<int>("port");
        QTest::newRow("COM1 unopenable at start-up") << 1;
        QTest::newRow("COM2 absent when chosen") << 2;
    }
    void laterChoiceAfterFailureOpens()
    {
        QFETCH(int, port);
        const QString description = QStringLiteral("No such file or directory: /dev/ttyS%1").arg(port - 1);
        Panel p(false, false);
        p.serial.unopenable[port] = description;
        bool visibleWhenWarned = false;
        p.runtime.onWarning = [&] { visibleWhenWarned = p.form->isVisible(); };
        p.form->start();
        QVERIFY(p.runtime.warnings.isEmpty());
        p.form->show();
        QCoreApplication::processEvents();
        if (port == 1) {
            QTRY_COMPARE(p.runtime.warnings.size(), 1);
            QCOMPARE(p.serial.commPort(), 2);
            QCOMPARE(p.serial.openCount, 0);
            QCOMPARE(shownPort(p), 0);
            QVERIFY(!p.w("Frame8")->isVisible() && !p.form->portFrameTimer.isActive());
        } else {
            choosePort(p, 2);
            QCOMPARE(shownPort(p), 1);
        }
        QCOMPARE(p.runtime.warnings, QStringList{description});
        QVERIFY(visibleWhenWarned);

        p.serial.unopenable.remove(port);  // the adapter is plugged in; the operator tries again
        p.serial.log.clear();
        choosePort(p, port);
        QCOMPARE(p.serial.log, port == 1 ? QStringList({"CommPort=1", "PortOpen=1"}) : reopenLog(2));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), port);
        QCOMPARE(shownPort(p), port);
        QCOMPARE(p.serial.settings(), QStringLiteral("19200,N,8,1"));
        QVERIFY(!p.w("Frame8")->isVisible());
        QCOMPARE(p.runtime.warnings.size(), 1);
    }

    // The speed is put on the open port in place: no close, no open.
    // A click on the option already selected keeps it selected and runs no handler:
    // no port is closed or opened and the frame stays up. Each pair keeps its own choice.
    void clickOnSelectedOption_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("port");   // the port in use
        QTest::addColumn<bool>("slow");  // 9600 chosen
        QTest::newRow("COM1 from start-up") << "Option1" << 1 << false;
        QTest::newRow("COM2 chosen") << "Option2" << 2 << false;
        QTest::newRow("19200 from the layout") << "Option9" << 1 << false;
        QTest::newRow("9600 chosen, COM2 in use") << "Option10" << 2 << true;
    }
    void clickOnSelectedOption()
    {
        QFETCH(QString, option);
        QFETCH(int, port);
        QFETCH(bool, slow);
        Panel p;
        if (port == 2)
            choosePort(p, 2);
        if (slow) {
            p.click("Command33");
            choose(p.w<QRadioButton>("Option10"));
        }
        p.serial.log.clear();
        p.click("Command33");
        choose(p.w<QRadioButton>(option.toLatin1().constData()));
        QVERIFY(p.w<QRadioButton>(option.toLatin1().constData())->isChecked());
        QCOMPARE(shownPort(p), port);
        QCOMPARE(p.w<QRadioButton>("Option9")->isChecked(), !slow);
        QCOMPARE(p.w<QRadioButton>("Option10")->isChecked(), slow);
        QCOMPARE(p.serial.log, QStringList());
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), port);
        QVERIFY(p.w("Frame8")->isVisible());
    }

    void chooseSpeed_data()
    {
        QTest::addColumn<QStringList>("choices");
        QTest::addColumn<QString>("settings");
        QTest::newRow("9600") << QStringList{"Option10"} << "9600,N,8,1";
        QTest::newRow("9600 then 19200") << QStringList{"Option10", "Option9"} << "19200,N,8,1";
    }
    void chooseSpeed()
    {
        QFETCH(QStringList, choices);
        QFETCH(QString, settings);
        Panel p;
        p.serial.log.clear();
        QStringList log;
        for (const QString &c : choices) {
            p.click("Command33");
            choose(p.w<QRadioButton>(c.toLatin1().constData()));
            QVERIFY(!p.w("Frame8")->isVisible());
            log << QStringLiteral("Settings=%1,N,8,1").arg(c == QLatin1String("Option10") ? 9600 : 19200);
        }
        QCOMPARE(p.serial.log, log);
        QCOMPARE(p.serial.settings(), settings);
        QCOMPARE(p.state().commSettings, settings);
        QVERIFY(p.serial.portOpen());
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
        QVERIFY(!p.w("Frame8")->isVisible());
        choosePort(p, 1);
        QCOMPARE(p.serial.log, (QStringList{"Settings=9600,N,8,1", "CommPort=1", "PortOpen=1"}));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));
    }

    // On a real line the speed changes in place: bytes before and after the change go
    // over the same open line.
    void speedChangesInPlaceOnARealLine()
    {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        PtyPanel p({{1, pty.path}});
        QVERIFY(p.serial.portOpen());
        QCOMPARE(pty.speed(), speed_t(B19200));
        QTest::mouseClick(p.w<PanelButton>("Command17"), Qt::LeftButton);
        QByteArray wire;
        QTRY_COMPARE_WITH_TIMEOUT((wire += pty.readAll()), QByteArray("C00\r"), 5000);

        p.choose("Option10");
        QVERIFY(p.serial.portOpen());
        QCOMPARE(pty.speed(), speed_t(B9600));
        QCOMPARE(p.serial.deviceBaudRate(), 9600);
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));
        QVERIFY(!p.w("Frame8")->isVisible());
        wire.clear();
        QVERIFY(!p.serial.output(QStringLiteral("C01\r")));
        QTRY_COMPARE_WITH_TIMEOUT((wire += pty.readAll()), QByteArray("C01\r"), 5000);

        p.choose("Option9");
        QVERIFY(p.serial.portOpen());
        QCOMPARE(pty.speed(), speed_t(B19200));
        QVERIFY(p.runtime.warnings.isEmpty());
    }

    void speedOnClosedRealLineAppliesAtOpen()
    {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        PtyPanel p({{1, pty.path}, {2, pty.path}});
        QVERIFY(!p.serial.setPortOpen(false));
        p.choose("Option10");
        QVERIFY(!p.serial.portOpen());
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));
        p.choose("Option2");
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), 2);
        QCOMPARE(pty.speed(), speed_t(B9600));
        QVERIFY(p.runtime.warnings.isEmpty());
    }

    // The port going away: one notice, no port shown in use, commands traced but not
    // sent, and choosing the port opens it again.
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
        if (port == 2)
            choosePort(p, 2);
        p.serial.log.clear();
        p.serial.loseDevice(description);
        QVERIFY(!p.serial.portOpen());
        QCOMPARE(p.runtime.warnings.size(), 1);
        QVERIFY2(p.runtime.warnings.first().contains(description), qPrintable(p.runtime.warnings.first()));
        QCOMPARE(shownPort(p), 0);
        QCOMPARE(p.serial.log, QStringList{"Lost"});

        p.serial.written.clear();
        p.click("Command17");
        QCOMPARE(p.txd(), QStringLiteral(" C 0 0 CR "));
        QVERIFY(p.serial.written.isEmpty());

        p.serial.log.clear();
        choosePort(p, port);
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
        pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(p.runtime.warnings.size(), 1, 10000);
        QVERIFY(!p.serial.portOpen());
        QVERIFY(!p.w<QRadioButton>("Option1")->isChecked() && !p.w<QRadioButton>("Option2")->isChecked());
        QTest::qWait(300);
        QCOMPARE(p.runtime.warnings.size(), 1);  // once, not once per failed read
        const QString name = pty.path.mid(pty.path.indexOf(QLatin1String("pts/")));
        QVERIFY2(p.runtime.warnings.first().contains(name), qPrintable(p.runtime.warnings.first()));

        QTest::mouseClick(p.w<PanelButton>("Command17"), Qt::LeftButton);
        QCOMPARE(p.w<PanelLabel>("Label11")->caption(), QStringLiteral(" C 0 0 CR "));
        QCoreApplication::processEvents();
        QCOMPARE(p.runtime.warnings.size(), 1);
    }
};

QTEST_MAIN(TstPorts)
#include "tst_ports.moc"
