// The serial control on a real line (a pseudo-terminal): bytes out and in, line
// settings, speed changes, hang-up, and what each kind of failed open says.

#include "exchange/ExchangeEngine.h"
#include "serial/QtSerialControl.h"
#include "ReferenceRows.h"
#include "TestSupport.h"

#include <QLocalServer>
#include <QSignalSpy>
#include <QTemporaryFile>

#include <cstdarg>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

// Every ioctl of this program passes here, so the modem-line requests can be seen
// on a pseudo-terminal, which has no modem lines. -1: DTR untouched, 1: raised, 0: dropped.
static int g_dtr = -1;
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if ((request == TIOCMBIS || request == TIOCMBIC) && (*static_cast<int *>(arg) & TIOCM_DTR))
        g_dtr = request == TIOCMBIS;
    return int(::syscall(SYS_ioctl, fd, request, arg));
}

namespace {

// This process as the user nobody: false when the system refuses.
bool becomeNobody()
{
    const passwd *nobody = ::getpwnam("nobody");
    return !::setgroups(0, nullptr) && !::setgid(nobody->pw_gid) && !::setuid(nobody->pw_uid);
}

// The line's speed when it is set to 8N1, else 0.
speed_t speed8N1(const Pty &pty)
{
    termios t{};
    tcgetattr(pty.slave, &t);
    return (t.c_cflag & (CSIZE | PARENB | CSTOPB)) == CS8 ? cfgetospeed(&t) : 0;
}

// What opening `path` says in another process (as the user nobody when asked).
// A failed open gives back every descriptor it took on the way. Without stdin (as a
// service may be started) those come at 0 first. In a devpts instance of its own
// (in a mount namespace of its own, as a container has), /dev/pts/N is its own
// line N; nothing is said when the system refuses that.
QString openElsewhere(const QString &path, bool asNobody, bool withoutStdin = false, bool ownPtys = false)
{
    QTemporaryFile out;
    if (out.open() && ::fork() == 0) {
        if (asNobody && !becomeNobody())
            ::_exit(2);
        if (withoutStdin)
            ::close(0);
        if (ownPtys && (::unshare(CLONE_NEWNS) || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)
                        || ::mount("devpts", "/dev/pts", "devpts", 0, "newinstance")))
            ::_exit(2);
        for (int master = -1, number = -1; ownPtys && number < path.mid(9).toInt();)
            if ((master = ::open("/dev/pts/ptmx", O_RDWR | O_NOCTTY)) < 0 || ::ioctl(master, TIOCGPTN, &number) || ::unlockpt(master))
                ::_exit(2);
        QtSerialControl serial({{1, path}}, panelWording());
        const int before = openDescriptors();
        const SerialResult failed = serial.setPortOpen(true);
        out.write(failed ? failed->description.toLocal8Bit() : "opened");
        if (failed && openDescriptors() != before)
            out.write(" (descriptors left open)");
        ::_exit(out.flush() ? 0 : 2);
    }
    ::wait(nullptr);
    return out.seek(0) ? QString::fromLocal8Bit(out.readAll()) : QString();
}

} // namespace

class TstSerial : public QObject {
    Q_OBJECT
private slots:
    // What was on the line before the open is dropped; then every byte value goes
    // out and comes in as one character, 8N1 at the chosen speed, DTR raised.
    void lineOverPty()
    {
        Pty pty;
        termios raw{};
        tcgetattr(pty.slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(pty.slave, TCSANOW, &raw);
        pty.write("80\r");
        QtSerialControl c({{1, pty.path}}, panelWording());
        QVERIFY(!c.setSettings(QStringLiteral("19200,N,8,1")));
        QVERIFY(!c.setPortOpen(true));
        QCOMPARE(g_dtr, 1);
        QCOMPARE(speed8N1(pty), speed_t(B19200));

        QByteArray all, wire;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QVERIFY(!c.output(QString::fromLatin1(all) + QChar(0x3042)));
        QTRY_COMPARE_WITH_TIMEOUT((wire += pty.readAll()), all + '?', 5000);
        QSignalSpy comm(&c, &SerialControl::onComm);
        pty.write("00\r" + all);
        QVERIFY(comm.wait(5000));
        QCOMPARE(c.commEvent(), kCommEvReceive);
        QString got;
        QTRY_VERIFY_WITH_TIMEOUT((got += c.input()).size() >= 259, 5000);
        QCOMPARE(got, QStringLiteral("00\r") + QString::fromLatin1(all));

        // The fields after the speed reach the line too (a pseudo-terminal keeps 8
        // data bits and no parity whatever it is told; stop bits it keeps).
        // Hardware flow control that another program turned on goes off again.
        termios t{};
        tcgetattr(pty.slave, &t);
        t.c_cflag |= CRTSCTS;
        QVERIFY(tcsetattr(pty.slave, TCSANOW, &t) == 0);
        QVERIFY(!c.setSettings(QStringLiteral("19200,N,8,2")));
        tcgetattr(pty.slave, &t);
        QCOMPARE(t.c_cflag & (CRTSCTS | CSTOPB), tcflag_t(CSTOPB));
        QVERIFY(!c.setSettings(QStringLiteral("19200,N,8,1")));

        // The speed changes on the open line; closed, it waits for the next open.
        QVERIFY(!c.setSettings(QStringLiteral("9600,N,8,1")));
        QVERIFY(c.portOpen());
        QCOMPARE(speed8N1(pty), speed_t(B9600));
        QVERIFY(!c.setPortOpen(false));
        QVERIFY(!c.setSettings(QStringLiteral("19200,N,8,1")));
        QVERIFY(!c.setPortOpen(true));
        QCOMPARE(speed8N1(pty), speed_t(B19200));

        // The far end hangs up: the port closes and says so once; writing then fails.
        QSignalSpy lost(&c, &SerialControl::portLost);
        ::close(std::exchange(pty.slave, -1));
        ::close(std::exchange(pty.master, -1));
        QVERIFY(lost.wait(5000));
        QCOMPARE(lost.first().first().value<SerialError>().description,
                 QStringLiteral("Read error on the device: %1").arg(pty.path));
        QVERIFY(!c.portOpen());
        QVERIFY(!lost.wait(200));
        QCOMPARE(c.output(QStringLiteral("C00\r"))->description, QStringLiteral("Port is not open"));
    }

    // A malformed settings string is refused and the settings stay as they were
    // (tests/reference/serial_settings.rows: the text, and "valid" where it is).
    void settings_data() { addReferenceRows("serial_settings.rows"); }
    void settings()
    {
        QFETCH(QJsonArray, row);
        const QString text = row[1].toString();
        const bool valid = row[2].toBool();
        QtSerialControl c({{1, QStringLiteral("/dev/null")}}, panelWording());
        const SerialResult r = c.setSettings(text);
        QCOMPARE(r ? r->description : c.settings(), valid ? text : QStringLiteral("Invalid settings: \"%1\"").arg(text));
        QCOMPARE(c.settings(), valid ? text : QStringLiteral("9600,N,8,1"));
    }

    // Port numbers 1 to 16; one without a device fails at the open.
    void portNumbers()
    {
        QtSerialControl c({{1, QStringLiteral("/dev/null")}}, panelWording());
        QCOMPARE(c.setCommPort(0)->description, QStringLiteral("Invalid port number 0"));
        QCOMPARE(c.setCommPort(17)->description, QStringLiteral("Invalid port number 17"));
        QVERIFY(!c.setCommPort(16));
        QCOMPARE(c.setPortOpen(true)->description, QStringLiteral("No device for COM16"));
    }

    // Each kind of failed open as another program meets it, run by root or by nobody
    // (tests/reference/serial_open_failures.rows: the setup, "nobody", the text). PATH,
    // LOCK and PID stand for the device, its lock file and this program's pid. The
    // device, not its number, is held: another node of it too, but a container's
    // /dev/pts/N is another line. A missing device's text goes on with the ports there;
    // a name too long makes the lock file's too long as well: the system's words, not a guess.
    void openFailureTexts_data() { addReferenceRows("serial_open_failures.rows"); }
    void openFailureTexts()
    {
        QFETCH(QJsonArray, row);
        const QString setup = row[1].toString();
        QString expected = row[3].toString();
        if (::geteuid() != 0)
            QSKIP("needs root to drop to nobody and to give devices away");
        Pty pty;
        QTemporaryDir dir;
        const QByteArray dev = pty.path.toLocal8Bit();
        const QString lock = QStringLiteral("/var/lock/LCK..") + pty.path.mid(5).replace(u'/', u'_');
        const QString path = setup == QLatin1String("long") ? QStringLiteral("/dev/") + QString(300, u'x')
            : QStringList{"missing", "socket", "node"}.contains(setup) ? dir.filePath(setup) : pty.path;
        QFile::remove(lock);  // one left behind by an earlier run on this pty's number
        QtSerialControl holder({{1, path}}, panelWording());
        const bool lockSetup = setup == QLatin1String("pid 0") || setup == QLatin1String("stale");
        QFile file(lockSetup ? lock : path);
        pid_t dead = 0;
        QLocalServer socket;
        QVERIFY(::chmod(dev.constData(), 0666) == 0);
        if (setup == QLatin1String("stale")) {
            if ((dead = ::fork()) == 0)
                ::_exit(0);
            ::waitpid(dead, nullptr, 0);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray::number(dead) + "\norva-panel\n") > 0 && file.flush());
        } else if (setup == QLatin1String("pid 0")) {
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("0\n") == 2 && file.flush());
        } else if (setup == QLatin1String("socket")) {
            QVERIFY(socket.listen(path));
        } else if (setup == QLatin1String("dialout")) {
            QVERIFY(::chown(dev.constData(), 0, ::getgrnam("dialout")->gr_gid) == 0 && ::chmod(dev.constData(), 0660) == 0);
        } else if (setup.startsWith(QLatin1String("exclusive")) || setup == QLatin1String("node")) {
            struct stat st {};
            QVERIFY(::ioctl(pty.slave, TIOCEXCL) == 0 && ::stat(dev.constData(), &st) == 0);
            QVERIFY(setup != QLatin1String("node") || ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, st.st_rdev) == 0);
        } else if (setup == QLatin1String("held")) {
            QVERIFY(!holder.setPortOpen(true));
        }
        const QString out = openElsewhere(path, row[2].toBool(), setup.endsWith(QLatin1String("no stdin")), setup.endsWith(QLatin1String("own ptys")));
        if (out.isEmpty() && setup.endsWith(QLatin1String("own ptys")))
            QSKIP("the system refuses a mount namespace with a devpts instance of its own");
        if (lockSetup)
            file.remove();
        expected.replace(QLatin1String("LOCK"), lock)
            .replace(QLatin1String("DEAD"), QString::number(dead))
            .replace(QLatin1String("PID"), QString::number(QCoreApplication::applicationPid()))
            .replace(QLatin1String("PATH"), path);
        QCOMPARE(setup == QLatin1String("missing") ? out.left(expected.size()) : out, expected);
    }

    // The device's opens and closes as another program sees them (inotify): start-up
    // opens, closes and opens again; a port choice closes and opens; END closes.
    // Root is let past another program's exclusive hold, so the panel asks about it,
    // but not by opening the device.
    void opensAndClosesSeenOutside()
    {
        for (const bool asNobody : {false, true}) {
            if (asNobody && ::geteuid() != 0)
                QSKIP("needs root to drop to nobody");
            Pty pty;
            QVERIFY(::chmod(pty.path.toLocal8Bit().constData(), 0666) == 0);
            const OpenWatch watch(pty.path);
            if (::fork() == 0) {
                if (asNobody && !becomeNobody())
                    ::_exit(2);
                QtSerialControl serial({{1, pty.path}, {2, pty.path}}, panelWording());
                ExchangeEngine engine(serial);
                engine.start();
                engine.choosePort(2);
                engine.end();
                ::_exit(serial.portOpen() ? 3 : 0);
            }
            int status = -1;
            ::wait(&status);
            QCOMPARE(status, 0);
            QCOMPARE(watch.seen(), QStringLiteral("open close open close open close"));
        }
    }

    void missingDeviceNamesThePortsThere()
    {
        PortFailure f{.kind = PortFailure::Kind::MissingDevice, .device = "/dev/ttyS0", .systemText = "No such file or directory"};
        QCOMPARE(panelWording().describe(f),
                 "No such file or directory: /dev/ttyS0\nThere is no device /dev/ttyS0. No serial port was found on this "
                 "computer: connect the serial adapter, or start the panel with --com1 DEVICE naming its device.");
        f.port = 2;
        f.adapters = {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyACM0", ""}};
        QCOMPARE(panelWording().describe(f),
                 "No such file or directory: /dev/ttyS0\nThere is no device /dev/ttyS0. Serial ports on this computer:\n"
                 "  /dev/ttyUSB0 (FT232R USB UART)\n  /dev/ttyACM0\n"
                 "To use one, start the panel with --com2 DEVICE, e.g. orva-panel --com2 /dev/ttyUSB0");
    }
};

QTEST_GUILESS_MAIN(TstSerial)
#include "tst_serial.moc"
