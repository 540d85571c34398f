// Start-up and shut-down: the port sequence, the window's place and height, the
// panel state, END, and a COM1 that cannot be opened.

#include "PanelHarness.h"

class TstStartup : public QObject {
    Q_OBJECT
private slots:
    void portSequence()
    {
        Panel p;
        QCOMPARE(p.serial.log, (QStringList{"CommPort=1", "Settings=19200,N,8,1", "PortOpen=1", "PortOpen=0", "CommPort=1", "PortOpen=1"}));
        QVERIFY(p.serial.portOpen());
        QCOMPARE(p.serial.commPort(), 1);
        QCOMPARE(p.serial.settings(), QStringLiteral("19200,N,8,1"));
        QVERIFY(p.runtime.warnings.isEmpty());
    }

    void stateAfterStartUp()
    {
        Panel p;
        const PanelState &s = p.state();
        QCOMPARE(s.repeatCode, quint8(0));
        QCOMPARE(s.awaitingReply, quint8(0));
        QCOMPARE(s.keyMode, quint8(0));
        QCOMPARE(s.txText, QString());
        QCOMPARE(s.rxText, QString());
        QCOMPARE(s.manualText, QString());
        QCOMPARE(s.commSettings, QStringLiteral("19200,N,8,1"));
        QCOMPARE(s.commandPrefix, QString());
        QCOMPARE(s.pressureValue, qint16(0));
        QCOMPARE(p.form->dataAreaFlag(), qint16(0));

        QVERIFY(!p.w("Frame8")->isVisible());
        QVERIFY(!p.form->portFrameTimer.isActive());
        QVERIFY(p.w<QRadioButton>("Option1")->isChecked());
        QVERIFY(p.w<QRadioButton>("Option9")->isChecked());
        QVERIFY(!p.w("Command34")->isVisible());
        QCOMPARE(p.form->outerHeightTwips(), 5350);
        QCOMPARE(p.form->height(), twipsToPixels(5350 - p.form->frameHeightTwips()));
        for (QTimer *t : {&p.form->engine().repeatTimer, &p.form->engine().replyTimer, &p.form->portFrameTimer, &p.form->engine().displayHoldTimer, &p.form->unusedTimer})
            QVERIFY(!t->isActive());
    }

    void placement_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QPoint>("topLeft");
        // Left = (screen - 9495) / 2, Top = (screen - 9100) / 2, in twips (15 per pixel).
        QTest::newRow("1920x1080") << QSize(1920, 1080) << QPoint(644, 237);
        QTest::newRow("1024x768") << QSize(1024, 768) << QPoint(196, 81);
        QTest::newRow("smaller than the window") << QSize(600, 400) << QPoint(-17, -103);
    }
    void placement()
    {
        QFETCH(QSize, screen);
        QFETCH(QPoint, topLeft);
        Panel p(false, false);
        p.runtime.screen = screen;
        p.form->start();
        QCOMPARE(p.form->pos(), topLeft);
    }

    void centringFormula()
    {
        const TwipPoint a = centredPosition(1920 * 15, 1080 * 15, 9495, 9100);
        QCOMPARE(a.left, 9652.5);
        QCOMPARE(a.top, 3550.0);
        const TwipPoint b = centredPosition(9000, 6000, 9495, 9100);
        QCOMPARE(b.left, -247.5);
        QCOMPARE(b.top, -1550.0);
    }

    void endClosesThePortAndEnds()
    {
        Panel p;
        p.serial.log.clear();
        p.click("Command16");
        QCOMPARE(p.serial.log, QStringList{"PortOpen=0"});
        QVERIFY(!p.serial.portOpen());
        QVERIFY(!p.form->isVisible());
        QCOMPARE(p.runtime.ends, 1);
    }

    void endWithThePortClosed()
    {
        Panel p;
        p.serial.setPortOpen(false);
        p.click("Command16");
        QCOMPARE(p.runtime.ends, 1);
    }

    void unopenableCom1_data()
    {
        QTest::addColumn<QString>("description");
        QTest::newRow("absent") << "No such file or directory: /dev/ttyS0";
        QTest::newRow("held by another program") << "Device is busy (held by another program): /dev/ttyS0";
    }
    void unopenableCom1()
    {
        QFETCH(QString, description);
        Panel p(false, false);
        p.serial.unopenable[1] = description;
        bool visibleWhenWarned = false;
        p.runtime.onWarning = [&] { visibleWhenWarned = p.form->isVisible(); };
        p.form->start();
        QVERIFY(p.runtime.warnings.isEmpty());  // not before the window exists
        p.form->show();
        QTRY_COMPARE(p.runtime.warnings.size(), 1);
        QCOMPARE(p.runtime.warnings.first(), description);
        QVERIFY(visibleWhenWarned);
        QTest::qWait(50);
        QCOMPARE(p.runtime.warnings.size(), 1);
        QVERIFY(!p.serial.portOpen());
        // No port is in use, and the options say so.
        QVERIFY(!p.w<QRadioButton>("Option1")->isChecked());
        QVERIFY(!p.w<QRadioButton>("Option2")->isChecked());
        QCOMPARE(p.form->outerHeightTwips(), 5350);
        // The panel still works: a command is traced, nothing crashes.
        p.click("Command44");
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QVERIFY(p.serial.written.isEmpty());
    }
};

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
