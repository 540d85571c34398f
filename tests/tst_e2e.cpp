// The panel (offscreen) against the simulated projector over a real pseudo-terminal.

#include "PanelHarness.h"
#include "exchange/TraceRule.h"
#include "serial/QtSerialControl.h"
#include "serial/SerialText.h"

#include <QProcess>

namespace {

struct SimPanel {
    QProcess sim;
    std::unique_ptr<QtSerialControl> serial;
    RecordingRuntime runtime;
    std::unique_ptr<Form1> form;

    explicit SimPanel(QStringList simArgs)
    {
        sim.start(QStringLiteral(ORVA_SIM_PATH), simArgs << QStringLiteral("--log"));
        if (!sim.waitForStarted(10000))
            return;
        QString pty;
        for (int i = 0; i < 100 && pty.isEmpty(); ++i) {
            sim.waitForReadyRead(100);
            pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
        }
        registerFontSubstitutions();
        serial = std::make_unique<QtSerialControl>(QMap<int, QString>{{1, pty}, {2, QStringLiteral("/dev/orva-none")}});
        form = std::make_unique<Form1>(*serial, runtime);
        form->start();
        form->setOuterHeightTwips(9100);
        form->show();
    }
    ~SimPanel()
    {
        form.reset();
        sim.terminate();
        sim.waitForFinished(5000);
    }
    QString line(const char *name) const
    {
        return qobject_cast<PanelLabel *>(form->control(QString::fromLatin1(name)))->caption();
    }
    void click(const char *name) const
    {
        QTest::mouseClick(qobject_cast<QPushButton *>(form->control(QString::fromLatin1(name))), Qt::LeftButton);
    }
    void sendManual(const QString &text) const
    {
        qobject_cast<QLineEdit *>(form->control(QStringLiteral("Text1")))->setText(text);
        click("Command95");
    }
    // Every reply the simulator put on the line, from its log ("<ms> TX <hex bytes>").
    QByteArray repliesSent()
    {
        QByteArray all;
        for (const QByteArray &l : sim.readAllStandardError().split('\n')) {
            const int tx = l.indexOf(" TX ");
            if (tx >= 0)
                all += QByteArray::fromHex(l.mid(tx + 4).replace(' ', ""));
        }
        return all;
    }
};

constexpr int kWait = 5000;

} // namespace

class TstE2e : public QObject {
    Q_OBJECT
private slots:
    void powerOnThenStatus()
    {
        SimPanel p({"--countdown-ms", "2000"});
        QVERIFY(p.serial->portOpen());
        QVERIFY(p.runtime.warnings.isEmpty());
        // An operator waits for each reply window to end before the next command.
        auto exchange = [&p](const char *button) {
            p.click(button);
            QTRY_VERIFY_WITH_TIMEOUT(!p.form->engine().replyTimer.isActive(), kWait);
        };
        exchange("Command44");
        QCOMPARE(p.line("Label22"), QStringLiteral(" Stand by"));
        exchange("Command17");
        QCOMPARE(p.line("Label12"), QStringLiteral(" ACK "));
        exchange("Command44");
        QCOMPARE(p.line("Label22"), QStringLiteral(" Count down"));
        QCOMPARE(p.line("Label11"), QStringLiteral(" C R 0 CR "));
        // Ask again, as an operator would, until the count down is over.
        for (int i = 0; i < 20 && p.line("Label22") != QStringLiteral(" Power ON"); ++i) {
            QTest::qWait(300);
            exchange("Command44");
        }
        QCOMPARE(p.line("Label22"), QStringLiteral(" Power ON"));
    }

    void everyQueryDecodes_data()
    {
        QTest::addColumn<QString>("button");  // or manual text, starting with "="
        QTest::addColumn<QString>("status");
        QTest::newRow("STATUS") << "Command44" << " Power ON";
        QTest::newRow("MODE") << "Command45" << " Computer 1";
        QTest::newRow("L-TIME") << "Command46" << " 0 1 2 3 4 CR  Hour Use";
        QTest::newRow("SETTING") << "Command47" << " Normally";
        QTest::newRow("TEMP") << "Command54" << "  S1= 0 3 2 . 5 C  ,   S2=  4 1 . 0 C , S3= 0 3 8 . 5 C";
        QTest::newRow("CRA") << "=CRA" << " Video & Audio mute OFF";
        QTest::newRow("CR7") << "=CR7" << " No1,2 ON  : 2 Lamp mode";
        QTest::newRow("CR PRESSURE") << "=CR PRESSURE" << "650 hPa";
        QTest::newRow("CR9") << "=CR9" << " T K 5 8 R   S I M   1 . 4 0 CR ";
    }
    void everyQueryDecodes()
    {
        QFETCH(QString, button);
        QFETCH(QString, status);
        SimPanel p({"--on"});
        if (button.startsWith(u'='))
            p.sendManual(button.mid(1));
        else
            p.click(qPrintable(button));
        QTRY_COMPARE_WITH_TIMEOUT(p.line("Label22"), status, kWait);
    }

    // Every state the simulator can be put in, read back through the panel's decoding.
    void everyStateDecodes_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("button");  // or manual text, starting with "="
        QTest::addColumn<QString>("status");
        const struct { const char *state, *button, *status; } rows[] = {
            {"power-fail", "Command44", " Power Fail"},
            {"temperature-warning", "Command44", " Temperature Warning"},
            {"no-key-input", "Command44", " NO Key input "},
            {"pwr-management", "Command44", " Lamp OFF by PWR Management"},
            {"temperature-warning-cooling", "Command44", " Temperature Warning & cooling down"},
            {"pwr-management-cooling", "Command44", "Cooling down  PWR Management"},
            {"temperature-recovered", "Command44", " Temperature Warning and recoverd"},
            {"lamp-fail-cooling", "Command44", " Cooling down (All Lamp FAIL)"},
            {"lamp-fail-standby", "Command44", " Cooling down & sutandby (All Lamp FAIL)"},
            {"cooling-down", "Command44", " Cooling down"},
            {"input-4", "Command45", " Input mode 4"},
            {"no-signal", "=CRA", " No signal"},
            {"reversal-top-bottom", "Command47", " Top/Bottom reversal"},
            {"reversal-left-right", "Command47", " Left/Right reversal"},
            {"reversal-both", "Command47", " Top/Bottom , Left/Right reversal"},
            {"lamps-2-all-off", "=CR7", " All OFF : 2 Lamp mode"},
            {"lamps-2-no1-on", "=CR7", " No1 ON  : 2 Lamp mode"},
            {"lamps-2-no2-on", "=CR7", " No2 ON  : 2 Lamp mode"},
            {"lamp-1-off", "=CR7", " All OFF : 1 Lamp mode(No1 USE)"},
            {"lamp-1-on", "=CR7", " No1 ON  : 1 Lamp mode(No1 USE)"},
            {"lamp-2-off", "=CR7", " All OFF : 1 Lamp mode(No2 USE)"},
            {"lamp-2-on", "=CR7", " No2 ON  : 1 Lamp mode(No2 USE)"},
        };
        for (const auto &r : rows)
            QTest::newRow(r.state) << r.state << r.button << r.status;
    }
    void everyStateDecodes()
    {
        QFETCH(QString, state);
        QFETCH(QString, button);
        QFETCH(QString, status);
        SimPanel p({"--on", "--state", state});
        if (button.startsWith(u'='))
            p.sendManual(button.mid(1));
        else
            p.click(qPrintable(button));
        QTRY_COMPARE_WITH_TIMEOUT(p.line("Label22"), status, kWait);
    }

    // A state set at run time by the control command on the line, and cleared again.
    void stateChangedOnTheLine()
    {
        SimPanel p({"--on"});
        auto exchange = [&p](const QString &manual) {
            p.sendManual(manual);
            QTRY_VERIFY_WITH_TIMEOUT(!p.form->engine().replyTimer.isActive(), kWait);
        };
        exchange(QStringLiteral("!STATE power-fail"));
        QCOMPARE(p.line("Label12"), QStringLiteral(" ACK "));
        exchange(QStringLiteral("CR0"));
        QCOMPARE(p.line("Label22"), QStringLiteral(" Power Fail"));
        exchange(QStringLiteral("!STATE power-normal"));
        exchange(QStringLiteral("CR0"));
        QCOMPARE(p.line("Label22"), QStringLiteral(" Power ON"));
    }

    // The panel at 9600 baud, the projector at 19200: the reply "80" CR, sent at twice the
    // speed the panel reads at, arrives as two mangled bytes (worked out bit by bit: 'J', 0xFE)
    // and decodes to nothing.
    void speedMismatchMangles()
    {
        SimPanel p({"--baud", "19200"});
        auto *option = qobject_cast<QRadioButton *>(p.form->control(QStringLiteral("Option10")));
        if (option->isVisible())
            QTest::mouseClick(option, Qt::LeftButton);
        else
            option->setChecked(true);
        QVERIFY(option->isChecked());
        p.click("Command44");
        QTRY_VERIFY_WITH_TIMEOUT(!p.form->engine().replyTimer.isActive(), kWait);
        QCOMPARE(p.repliesSent(), QByteArray("J\xFE"));
        QVERIFY(p.line("Label22") != QStringLiteral(" Stand by"));
        // Back at the projector's speed, the same query is understood again.
        qobject_cast<QRadioButton *>(p.form->control(QStringLiteral("Option9")))->setChecked(true);
        p.click("Command44");
        QTRY_COMPARE_WITH_TIMEOUT(p.line("Label22"), QStringLiteral(" Stand by"), kWait);
    }

    void splitReplies()
    {
        SimPanel p({"--split", "1", "--split-gap-ms", "30"});
        p.click("Command44");
        QTRY_COMPARE_WITH_TIMEOUT(p.line("Label12"), QStringLiteral(" 8 0 CR "), kWait);
        QCOMPARE(p.line("Label22"), QStringLiteral(" Stand by"));
    }

    void garbageIsTracedExactly()
    {
        SimPanel p({"--garbage", "--seed", "7"});
        p.form->engine().replyTimer.setInterval(3000);  // keep the reply window open while the bytes arrive
        p.click("Command44");
        QByteArray sent;
        QTRY_VERIFY_WITH_TIMEOUT((sent += p.repliesSent()).endsWith('\r'), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(p.form->state().rxText.size(), qsizetype(sent.size()), kWait);
        QCOMPARE(p.form->state().rxText, lineBytesToText(sent));
        QCOMPARE(p.line("Label12"), traceText(lineBytesToText(sent)));
        QVERIFY(p.line("Label12").contains(QStringLiteral("? ")));
    }

    void silentProjectorShowsTheNoReplyMark()
    {
        SimPanel p({"--silent"});
        p.click("Command44");
        QTRY_COMPARE_WITH_TIMEOUT(p.line("Label12"), QStringLiteral(" X X X X"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(p.line("Label11"), QString(), kWait);
    }
};

QTEST_MAIN(TstE2e)
#include "tst_e2e.moc"
