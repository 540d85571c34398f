// Start-up and shut-down: the window's place and fixed size, and END.

#include "PanelHarness.h"

class TstStartup : public QObject {
    Q_OBJECT
private slots:
    // Centred by the full design height, in twips: Left = (screen - 9495 - frame) / 2,
    // Top = (screen - 9100) / 2, rounded to pixels; then made compact.
    void placement_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<bool>("shownFirst");  // in the platform's frame (offscreen: 2 px all round)
        QTest::addColumn<QPoint>("topLeft");
        QTest::addColumn<int>("height");  // 5350 twips outer, less the frame
        QTest::newRow("1920x1080") << QSize(1920, 1080) << false << QPoint(644, 237) << 332;
        QTest::newRow("1024x768") << QSize(1024, 768) << false << QPoint(196, 81) << 332;
        QTest::newRow("smaller than the window") << QSize(600, 400) << false << QPoint(-17, -103) << 332;
        QTest::newRow("shown before start-up") << QSize(1920, 1080) << true << QPoint(642, 237) << 353;
    }
    void placement()
    {
        QFETCH(QSize, screen);
        QFETCH(bool, shownFirst);
        QFETCH(QPoint, topLeft);
        QFETCH(int, height);
        Panel p(false, false);
        p.runtime.screen = screen;
        if (shownFirst)
            p.form->show();
        else
            p.runtime.frame = QMargins();  // no window manager: the design's frame is assumed
        p.form->start();
        p.form->show();
        QCoreApplication::processEvents();
        QCOMPARE(p.form->pos(), topLeft);
        QCOMPARE(p.form->size(), QSize(633, height));
        QCOMPARE(p.form->minimumSize(), p.form->maximumSize());
        QVERIFY(!(p.form->windowFlags() & Qt::WindowMaximizeButtonHint));
    }

    // A port that cannot be opened at start-up is told once the window is on
    // screen, over it, and only once.
    void startUpWarningWaitsForTheWindow()
    {
        Panel p(false, false);
        p.serial.unopenable[1] = QStringLiteral("No such file or directory: /dev/ttyS0");
        QList<bool> visibleAtWarning;
        p.runtime.onWarning = [&] { visibleAtWarning << p.form->isVisible(); };
        p.form->start();
        QCoreApplication::processEvents();
        QCOMPARE(p.runtime.warnings.size(), 0);
        p.form->show();
        QTRY_COMPARE(p.runtime.warnings.size(), 1);
        QVERIFY(p.runtime.warnings.first().startsWith(QLatin1String("No such file or directory: /dev/ttyS0")));
        QCOMPARE(visibleAtWarning, QList<bool>{true});
        p.form->hide();
        p.form->show();
        QCoreApplication::processEvents();
        QCOMPARE(p.runtime.warnings.size(), 1);
    }

    void endClosesThePortAndEnds()
    {
        Panel p;
        p.serial.log.clear();
        p.click("Command16");
        QCOMPARE(p.serial.log, QStringList{"PortOpen=0"});
        QVERIFY(!p.form->isVisible());
        QCOMPARE(p.runtime.ends, 1);
    }
};

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
