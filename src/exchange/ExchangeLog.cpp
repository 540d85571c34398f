// The exchange log: the engine's signals written as lines of text.

#include "exchange/ExchangeLog.h"
#include "exchange/ExchangeEngine.h"
#include "exchange/TraceRule.h"

#include <QDateTime>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

ExchangeLog::ExchangeLog(QObject *parent) : QObject(parent) {}

ExchangeLog::~ExchangeLog() = default;

bool ExchangeLog::open(const QString &path, QString *error)
{
    m_file.close();
    m_path = path;
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("cannot open the log file %1: %2").arg(path, why);
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no file name given"));
    // O_APPEND: every line goes to the end, also where another program writes the
    // same file (and a device such as /dev/full takes it without a seek).
    // Unbuffered: each line goes to the file with one write, as it is made.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd == -1)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!m_file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(m_file.errorString());
    }
    return true;
}

void ExchangeLog::watch(ExchangeEngine &engine, const QString &source)
{
    // Its STATUS lines are the status line's texts: an engine that hid its lines
    // (the bridge's) decodes them again while a log watches it.
    engine.setLinesShown(true);
    connect(&engine, &ExchangeEngine::transmitted, this, [this, source](const QString &text, bool sent) {
        if (sent)
            write(source, u"TX", text);
        else
            write(source, u"ERROR", QStringLiteral("Not sent (port closed): ") + text);
    });
    connect(&engine, &ExchangeEngine::received, this, [this, source](const QString &chunk) { write(source, u"RX", chunk); });
    // The status line's texts begin with a blank, which the separator stands for.
    connect(&engine, &ExchangeEngine::statusDecoded, this, [this, source](const QString &status) {
        write(source, u"STATUS", status.startsWith(u' ') ? QStringView(status).mid(1) : QStringView(status));
    });
    // A warning is a message of several lines: one line of the log, its line
    // breaks (and the empty lines between paragraphs) folded into single blanks.
    connect(&engine, &ExchangeEngine::warning, this, [this, source](const QString &text) {
        write(source, u"ERROR", QString(text).replace(u'\r', u'\n').split(u'\n', Qt::SkipEmptyParts).join(u' '));
    });
}

QString ExchangeLog::logText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 32 && c.unicode() < 127) {
            out += c;
            continue;
        }
        // The trace rule's name for the character: " CR ", " &", " ? " ...
        const QString name = traceText(QStringView(&c, 1)).trimmed();
        out += QLatin1Char('<') + name + QLatin1Char('>');
    }
    return out;
}

void ExchangeLog::write(const QString &source, QStringView kind, QStringView text)
{
    if (!isLogging())
        return;
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    line += u' ';
    if (!source.isEmpty()) {
        line += source;
        line += u' ';
    }
    line += kind;
    line += u' ';
    line += logText(text);
    line += u'\n';
    const QByteArray bytes = line.toUtf8();
    if (m_file.write(bytes) == bytes.size())
        return;
    const QString reason = QStringLiteral("Writing the log file %1 failed (%2); nothing more is logged.")
                               .arg(m_path, m_file.errorString());
    m_file.close();
    emit stopped(reason);
}
