#pragma once
// Small helpers shared by the panel tests.

#include <QByteArray>
#include <QMetaObject>
#include <QString>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// One tick of a timer, delivered at once (QTimer::timeout cannot be emitted from outside).
inline void tick(QTimer &timer)
{
    QVERIFY(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
}

// A pseudo-terminal: the panel opens `path` (the slave side), the test reads and
// writes the master side (non-blocking).
class Pty {
public:
    Pty()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = QString::fromLocal8Bit(name);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        // Programs the test starts must not hold the line open behind its back.
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
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
    void write(const QByteArray &b) const { QVERIFY(::write(master, b.data(), size_t(b.size())) == b.size()); }

    int master = -1, slave = -1;
    QString path;
};
