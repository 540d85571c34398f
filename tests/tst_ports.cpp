// The port frame as the operator works it: the COM button shows it, and a click on
// an option, found by its caption, chooses the port (COM1/COM2) or the speed.

#include "PanelHarness.h"

#include <QButtonGroup>

namespace {

QList<QRadioButton *> options(const Panel &p)
{
    return p.w("Frame8")->findChildren<QRadioButton *>();
}

// The captions of the options shown selected.
QString shown(const Panel &p)
{
    QStringList on;
    for (QRadioButton *o : options(p))
        if (o->isChecked())
            on << o->text();
    return on.join(u' ');
}

} // namespace

class TstPorts : public QObject {
    Q_OBJECT
private slots:
    void choose_data()
    {
        QTest::addColumn<bool>("lost");      // the port goes away first
        QTest::addColumn<int>("unopenable");
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("log");    // the serial control's operations
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("frame");     // still shown
        QTest::addColumn<int>("warnings");
        QTest::newRow("COM2, then COM1") << false << 0 << QStringList{"COM2", "COM1"}
            << "PortOpen=0 CommPort=2 PortOpen=1 PortOpen=0 CommPort=1 PortOpen=1" << "COM1 19200" << false << 0;
        QTest::newRow("COM2 absent: COM1 still in use") << false << 2 << QStringList{"COM2"}
            << "PortOpen=0 CommPort=2 PortOpen=1 CommPort=1 PortOpen=1" << "COM1 19200" << true << 1;
        QTest::newRow("COM1 absent: COM2 still in use") << false << 1 << QStringList{"COM2", "COM1"}
            << "PortOpen=0 CommPort=2 PortOpen=1 PortOpen=0 CommPort=1 PortOpen=1 CommPort=2 PortOpen=1" << "COM2 19200" << true << 1;
        QTest::newRow("lost, then COM1") << true << 0 << QStringList{"COM1"} << "Lost CommPort=1 PortOpen=1" << "COM1 19200" << false << 1;
        QTest::newRow("lost, then COM2 absent: none in use") << true << 2 << QStringList{"COM2"}
            << "Lost CommPort=2 PortOpen=1 CommPort=1" << "19200" << true << 2;
        QTest::newRow("COM1 selected already") << false << 0 << QStringList{"COM1"} << "" << "COM1 19200" << true << 0;
        QTest::newRow("9600, then 19200") << false << 0 << QStringList{"9600", "19200"}
            << "Settings=9600,N,8,1 Settings=19200,N,8,1" << "COM1 19200" << false << 0;
        QTest::newRow("19200 selected already") << false << 0 << QStringList{"19200"} << "" << "COM1 19200" << true << 0;
        QTest::newRow("lost, 9600 kept for COM1") << true << 0 << QStringList{"9600", "COM1"}
            << "Lost Settings=9600,N,8,1 CommPort=1 PortOpen=1" << "COM1 9600" << false << 1;
    }
    void choose()
    {
        QFETCH(bool, lost);
        QFETCH(int, unopenable);
        QFETCH(QStringList, clicks);
        QFETCH(QString, log);
        QFETCH(QString, shown);
        QFETCH(bool, frame);
        QFETCH(int, warnings);
        Panel p;
        p.serial.log.clear();
        bool openAtWarning = false;
        p.runtime.onWarning = [&] { openAtWarning |= p.serial.portOpen(); };
        if (lost)
            p.serial.loseDevice();
        if (unopenable)
            p.serial.unopenable[unopenable] = QStringLiteral("No such file or directory: /dev/ttyS%1").arg(unopenable - 1);
        for (const QString &caption : clicks) {
            p.click("Command33");
            QVERIFY(p.w("Frame8")->isVisible());
            const QList<QRadioButton *> all = options(p);
            const auto it = std::find_if(all.begin(), all.end(), [&](auto *o) { return o->text() == caption; });
            QVERIFY2(it != all.end(), qPrintable(caption));
            QTest::mouseClick(*it, Qt::LeftButton, {}, QPoint(6, (*it)->height() / 2));
        }
        QCOMPARE(p.serial.log.join(u' '), log);
        QCOMPARE(::shown(p), shown);
        QCOMPARE(p.w("Frame8")->isVisible(), frame);
        QCOMPARE(p.runtime.warnings.size(), warnings);
        QVERIFY(!openAtWarning);
        for (const QRadioButton *o : options(p))  // a click on one still clears the other
            QVERIFY2(o->group() && o->group()->exclusive(), qPrintable(o->objectName()));
    }
};

QTEST_MAIN(TstPorts)
#include "tst_ports.moc"
