#pragma once
// Small helpers shared by the panel tests.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVariantMap>
#include <QMetaObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>

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

// One tick of a timer, delivered at once (QTimer::timeout cannot be emitted from outside).
inline void tick(QTimer &timer)
{
    QVERIFY(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
}

// A program run to its end: its exit status (-1: crashed, or killed after a minute) and output.
struct Run {
    int status = -1;
    QString out, err;
};
inline Run runProgram(const QString &program, const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(60000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// A test's rows from tests/reference/NAME, a table of tab-separated fields: the
// column names, then a row a line, its name first (lines starting with # aside).
// In a field, \n \r \t \\ stand as in C. One column "row": the fields by name.
inline void addTableRows(const char *name)
{
    QTest::addColumn<QVariantMap>("row");
    QFile file(QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/reference/") + QLatin1String(name));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    QStringList columns;
    for (QString line; !(line = QString::fromUtf8(file.readLine())).isEmpty();) {
        if (line.startsWith(u'#'))
            continue;
        QStringList fields = line.chopped(line.endsWith(u'\n') ? 1 : 0).split(u'\t');
        for (QString &field : fields)
            for (qsizetype at = field.indexOf(u'\\'); at >= 0 && at + 1 < field.size(); at = field.indexOf(u'\\', at + 1)) {
                const qsizetype kind = QStringView(u"nrt").indexOf(field[at + 1]);
                field.replace(at, 2, kind < 0 ? field[at + 1] : QStringView(u"\n\r\t").at(kind));
            }
        if (columns.isEmpty()) {
            columns = fields;
            continue;
        }
        QVariantMap row;
        for (qsizetype i = 0; i < columns.size(); ++i)
            row[columns[i]] = fields.value(i);
        QTest::newRow(qPrintable(fields[0])) << row;
    }
    QVERIFY(!columns.isEmpty());
}

// A row's list of texts (its items between " | "; none where the field is empty).
inline QStringList items(const QVariantMap &row, const char *column)
{
    const QString field = row[QLatin1String(column)].toString();
    return field.isEmpty() ? QStringList() : field.split(QStringLiteral(" | "));
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

// The opens and closes of a file as another program sees them (inotify).
class OpenWatch {
public:
    explicit OpenWatch(const QString &path) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        QVERIFY(::inotify_add_watch(m_fd, path.toLocal8Bit().constData(), IN_OPEN | IN_CLOSE) >= 0);
    }
    ~OpenWatch() { ::close(m_fd); }
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;

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
