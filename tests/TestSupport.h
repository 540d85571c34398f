#pragma once
// Small helpers shared by the tests.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

// How many descriptors this process has open.
inline int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// A file `name` in `dir` holding `text`: its path (empty when it cannot be written).
inline QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() ? file.fileName() : QString();
}

// Only the variables `vars` ("NAME=value"), and a runtime directory of its own so that Qt has nothing to say.
inline QProcessEnvironment environment(const QStringList &vars)
{
    static const QTemporaryDir runtimeDir;
    QProcessEnvironment env;
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    for (const QString &var : vars)
        env.insert(var.section(u'=', 0, 0), var.section(u'=', 1));
    return env;
}

// A program run to its end in that environment: its exit status (-1: crashed, or killed
// after a minute) and output.
struct Run {
    int status = -1;
    QString out, err;
};
inline Run runProgram(const QString &program, const QStringList &args, const QStringList &vars = {})
{
    QProcess p;
    p.setProcessEnvironment(environment(vars));
    p.start(program, args);
    if (!p.waitForFinished(60000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
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
        for (const int fd : {master, slave})
            if (fd >= 0)
                ::close(fd);
    }
    Q_DISABLE_COPY(Pty)

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

// The opens and closes of a file as another program sees them (inotify).
class OpenWatch {
public:
    explicit OpenWatch(const QString &path) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        QVERIFY(::inotify_add_watch(m_fd, path.toLocal8Bit().constData(), IN_OPEN | IN_CLOSE) >= 0);
    }
    ~OpenWatch() { ::close(m_fd); }
    Q_DISABLE_COPY(OpenWatch)

    // "open close open ..." since the watch began (or the last call).
    QString seen() const
    {
        QStringList events;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;)
            for (char *at = buffer; at < buffer + n; at += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(at)->len)
                events << QString::fromLatin1(reinterpret_cast<inotify_event *>(at)->mask & IN_OPEN ? "open" : "close");
        return events.join(u' ');
    }

private:
    int m_fd;
};
