// The serial layer: text <-> bytes, settings strings, and the real control over a
// pseudo-terminal (open, write, receive, speed change in place, failures).

#include "serial/QtSerialControl.h"
#include "serial/SerialText.h"
#include "TestSupport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

class TstSerial : public QObject {
    Q_OBJECT
private slots:
    void textToBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("command") << QStringLiteral("C00\r") << QByteArray("C00\r");
        QTest::newRow("blank inside") << QStringLiteral("CF LOGO USER\r") << QByteArray("CF LOGO USER\r");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("latin-1") << QStringLiteral("\u00e9") << QByteArray("\xe9");
        QTest::newRow("no single byte") << QStringLiteral("A\u3042B") << QByteArray("A?B");
        QTest::newRow("NUL") << QString(QChar(0)) << QByteArray(1, '\0');
    }
    void textToBytes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(textToLineBytes(text), bytes);
        QCOMPARE(textToLineBytes(text).size(), text.size());
    }

    void everyByteIsOneCharacter()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString text = lineBytesToText(all);
        QCOMPARE(text.size(), 256);
        for (int b = 0; b < 256; ++b)
            QCOMPARE(int(text.at(b).unicode()), b);
        QCOMPARE(textToLineBytes(text), all);
    }

    void settings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("baud");
        QTest::newRow("19200") << "19200,N,8,1" << true << 19200;
        QTest::newRow("9600") << "9600,N,8,1" << true << 9600;
        QTest::newRow("blanks, lower case") << " 9600 , n , 8 , 1 " << true << 9600;
        QTest::newRow("even 7 2") << "4800,E,7,2" << true << 4800;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("three fields") << "19200,N,8" << false << 0;
        QTest::newRow("five fields") << "19200,N,8,1,1" << false << 0;
        QTest::newRow("speed not a number") << "fast,N,8,1" << false << 0;
        QTest::newRow("negative speed") << "-9600,N,8,1" << false << 0;
        QTest::newRow("bad parity") << "9600,X,8,1" << false << 0;
        QTest::newRow("9 data bits") << "9600,N,9,1" << false << 0;
        QTest::newRow("3 stop bits") << "9600,N,8,3" << false << 0;
        QTest::newRow("1.5 stop bits") << "9600,N,8,1.5" << false << 0;
    }
    void settings()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, baud);
        const auto s = parseLineSettings(text);
        QCOMPARE(s.has_value(), valid);
        if (s)
            QCOMPARE(s->baud, baud);
        // The control refuses a malformed string with an error and keeps its settings.
        QtSerialControl c({{1, QStringLiteral("/dev/null-nothing")}});
        const SerialResult r = c.setSettings(text);
        QCOMPARE(!r.has_value(), valid);
        if (!valid) {
            QVERIFY(!r->description.isEmpty());
            QCOMPARE(c.settings(), QStringLiteral("9600,N,8,1"));
        }
    }

    void openWriteReceiveOverPty()
    {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        QtSerialControl c({{1, pty.path}});
        QCOMPARE(c.commPort(), 1);
        QVERIFY(!c.portOpen());
        QVERIFY(!c.setSettings(QStringLiteral("19200,N,8,1")));
        const SerialResult opened = c.setPortOpen(true);
        QVERIFY2(!opened, opened ? qPrintable(opened->description) : "");
        QVERIFY(c.portOpen());
        QCOMPARE(pty.speed(), speed_t(B19200));

        QVERIFY(!c.output(QStringLiteral("C00\r")));
        QByteArray wire;
        QTRY_COMPARE_WITH_TIMEOUT((wire += pty.readAll()), QByteArray("C00\r"), 5000);

        QSignalSpy comm(&c, &SerialControl::onComm);
        pty.write(QByteArray("00\r\x06\xff", 5));
        QTRY_VERIFY_WITH_TIMEOUT(comm.count() > 0, 5000);
        QCOMPARE(c.commEvent(), kCommEvReceive);
        QString got = c.input();
        QTRY_VERIFY_WITH_TIMEOUT((got += c.input()).size() >= 5, 5000);
        QCOMPARE(got, QStringLiteral("00\r\x06\u00ff"));
    }

    void speedChangesInPlace()
    {
        Pty pty;
        QtSerialControl c({{1, pty.path}});
        c.setSettings(QStringLiteral("19200,N,8,1"));
        QVERIFY(!c.setPortOpen(true));
        QCOMPARE(pty.speed(), speed_t(B19200));
        QVERIFY(!c.setSettings(QStringLiteral("9600,N,8,1")));
        QVERIFY(c.portOpen());
        QCOMPARE(pty.speed(), speed_t(B9600));
        QCOMPARE(c.deviceBaudRate(), 9600);
        // Kept while closed, applied at the next open.
        c.setPortOpen(false);
        QVERIFY(!c.setSettings(QStringLiteral("19200,N,8,1")));
        QVERIFY(!c.setPortOpen(true));
        QCOMPARE(pty.speed(), speed_t(B19200));
    }

    void failuresCarryDescriptions()
    {
        QtSerialControl c({{1, QStringLiteral("/dev/orva-no-such-port")}, {2, QString()}});
        const SerialResult missing = c.setPortOpen(true);
        QVERIFY(missing);
        QVERIFY(!c.portOpen());
        QCOMPARE(missing->description.section(u'\n', 0, 0), QStringLiteral("No such file or directory: /dev/orva-no-such-port"));

        QVERIFY(!c.setCommPort(2));
        const SerialResult noDevice = c.setPortOpen(true);
        QVERIFY(noDevice);
        QVERIFY(!noDevice->description.isEmpty());

        const SerialResult closedWrite = c.output(QStringLiteral("C00\r"));
        QVERIFY(closedWrite);
        QVERIFY(!closedWrite->description.isEmpty());
        QVERIFY(!c.setPortOpen(false));  // closing a closed port is fine
        QVERIFY(c.setCommPort(0));       // no port 0
    }

    void portHeldByAnotherProgram()
    {
        Pty pty;
        QtSerialControl first({{1, pty.path}}), second({{1, pty.path}});
        QVERIFY(!first.setPortOpen(true));
        const SerialResult busy = second.setPortOpen(true);
        QVERIFY(busy);
        QVERIFY2(busy->description.contains(QLatin1String("busy")), qPrintable(busy->description));
        QVERIFY(!second.portOpen());
    }

    // Each kind of failed open, as the other program (open-probe) meets it, running
    // as root or as nobody. PATH, LOCK and PID stand for the device, its lock file
    // and the holder's pid.
    void openFailureTexts_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("asNobody");
        QTest::addColumn<QString>("expected");
        const QString notSerial = QStringLiteral(
            "Inappropriate ioctl for device: PATH\nPATH is not a serial port. Start the panel with --com1 DEVICE "
            "naming the serial port the projector is connected to (e.g. --com1 /dev/ttyUSB0).");
        const QString busy = QStringLiteral("Device is busy (held by another program): PATH\n"
                                            "Close the program that uses it, then choose the port again with the COM button.");
        const QString locked = QStringLiteral("Device is busy (held by another program): PATH\nIts lock file LOCK names process "
                                              "PID (open-probe). Close that program, then choose the port again with the COM button.");
        QTest::newRow("/dev/null") << "null" << false << notSerial;
        QTest::newRow("regular file") << "file" << false << notSerial;
        QTest::newRow("no access, group dialout") << "dialout" << true
            << QStringLiteral("Permission denied: PATH\nThe user nobody has no access to this device. Members of its group "
                              "\"dialout\" have access: add the user to it (sudo adduser nobody dialout), then log out and in again.");
        QTest::newRow("exclusive, opened by nobody") << "exclusive" << true << busy;
        QTest::newRow("exclusive, opened by root") << "exclusive" << false << busy;
        QTest::newRow("held with a lock file, opened by nobody") << "held" << true << locked;
        QTest::newRow("held with a lock file, opened by root") << "held" << false << locked;
    }
    void openFailureTexts()
    {
        QFETCH(QString, setup);
        QFETCH(bool, asNobody);
        QFETCH(QString, expected);
        if ((asNobody || setup == QLatin1String("dialout")) && ::geteuid() != 0)
            QSKIP("needs root to drop to nobody and to give the device away");

        Pty pty;
        QTemporaryFile file;
        QProcess holder;
        QString path = pty.path;
        if (setup == QLatin1String("null")) {
            path = QStringLiteral("/dev/null");
        } else if (setup == QLatin1String("file")) {
            QVERIFY(file.open());
            path = file.fileName();
        } else if (setup == QLatin1String("dialout")) {
            const group *dialout = ::getgrnam("dialout");
            QVERIFY(dialout);
            QCOMPARE(::chown(pty.path.toLocal8Bit().constData(), 0, dialout->gr_gid), 0);
            QCOMPARE(::chmod(pty.path.toLocal8Bit().constData(), 0660), 0);
        } else {
            QCOMPARE(::chmod(pty.path.toLocal8Bit().constData(), 0666), 0);
            if (setup == QLatin1String("exclusive")) {
                QCOMPARE(::ioctl(pty.slave, TIOCEXCL), 0);
            } else {
                holder.start(QStringLiteral(OPEN_PROBE_PATH), {QStringLiteral("--hold"), pty.path});
                QVERIFY(holder.waitForReadyRead(30000));
                QCOMPARE(holder.readLine().trimmed(), QByteArray("opened"));
            }
        }
        expected.replace(QLatin1String("LOCK"), QStringLiteral("/var/lock/LCK..") + pty.path.mid(5).replace(u'/', u'_'))
            .replace(QLatin1String("PID"), QString::number(holder.processId()))
            .replace(QLatin1String("PATH"), path);

        QProcess opener;
        QStringList args{path};
        if (asNobody)
            args.prepend(QStringLiteral("--as-nobody"));
        opener.start(QStringLiteral(OPEN_PROBE_PATH), args);
        QVERIFY(opener.waitForFinished(30000));
        QCOMPARE(QString::fromLocal8Bit(opener.readAllStandardOutput()).trimmed(), expected);
        QCOMPARE(opener.exitCode(), 1);
        if (holder.state() != QProcess::NotRunning) {
            holder.closeWriteChannel();
            QVERIFY(holder.waitForFinished(30000));
        }
    }

    void missingDeviceNamesThePortsThere_data()
    {
        QTest::addColumn<QList<SerialAdapter>>("present");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QList<SerialAdapter>{} << 1
            << "No such file or directory: /dev/ttyS0\nThere is no device /dev/ttyS0. No serial port was found on this "
               "computer: connect the serial adapter, or start the panel with --com1 DEVICE naming its device.";
        QTest::newRow("two adapters, COM2") << QList<SerialAdapter>{{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyACM0", ""}} << 2
            << "No such file or directory: /dev/ttyS0\nThere is no device /dev/ttyS0. Serial ports on this computer:\n"
               "  /dev/ttyUSB0 (FT232R USB UART)\n  /dev/ttyACM0\n"
               "To use one, start the panel with --com2 DEVICE, e.g. orva-panel --com2 /dev/ttyUSB0";
    }
    void missingDeviceNamesThePortsThere()
    {
        QFETCH(QList<SerialAdapter>, present);
        QFETCH(int, port);
        QFETCH(QString, expected);
        QCOMPARE(missingDeviceText(QStringLiteral("No such file or directory"), QStringLiteral("/dev/ttyS0"), port, present), expected);
    }

    void commPortWhileOpenIsRefused()
    {
        Pty pty;
        QtSerialControl c({{1, pty.path}, {2, pty.path}});
        QVERIFY(!c.setPortOpen(true));
        QVERIFY(c.setCommPort(2));
        QCOMPARE(c.commPort(), 1);
        QVERIFY(c.setPortOpen(true));  // already open
    }

    void hangUpClosesThePortOnce()
    {
        Pty pty;
        QtSerialControl c({{1, pty.path}});
        QVERIFY(!c.setPortOpen(true));
        QSignalSpy lost(&c, &SerialControl::portLost);
        ::close(pty.slave);
        pty.slave = -1;
        pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 5000);
        QVERIFY(!c.portOpen());
        QTest::qWait(200);
        QCOMPARE(lost.count(), 1);
        QVERIFY(c.output(QStringLiteral("C00\r")));
    }
};

QTEST_MAIN(TstSerial)
#include "tst_serial.moc"
