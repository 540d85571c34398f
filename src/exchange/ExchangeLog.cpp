// The exchange log: the engine's signals written as lines of text.

#include "exchange/ExchangeLog.h"
#include "exchange/ExchangeEngine.h"
#include "exchange/TraceRule.h"

#include <QDateTime>
#include <QFileInfo>

ExchangeLog::ExchangeLog(QObject *parent) : QObject(parent) {}

ExchangeLog::~ExchangeLog() = default;

bool ExchangeLog::open(const QString &path, QString *error)
{
    m_file.close();
    m_stopped = false;
    m_file.setFileName(path);
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("cannot open the log file %1: %2").arg(path, why);
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no file name given"));
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("it is a directory"));
    // Unbuffered: every line goes to the file with one write, as it is made.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return fail(m_file.errorString());
    return true;
}

void ExchangeLog::watch(ExchangeEngine &engine)
{
    connect(&engine, &ExchangeEngine::transmitted, this, [this](const QString &text, bool sent) {
        if (sent)
            write(u"TX", text);
        else
            write(u"ERROR", QStringLiteral("Not sent (port closed): ") + text);
    });
    connect(&engine, &ExchangeEngine::received, this, [this](const QString &chunk) { write(u"RX", chunk); });
    // The status line's texts begin with a blank, which the separator stands for.
    connect(&engine, &ExchangeEngine::statusDecoded, this, [this](const QString &status) {
        write(u"STATUS", status.startsWith(u' ') ? QStringView(status).mid(1) : QStringView(status));
    });
    // A warning is a message of several lines: one line of the log, its line
    // breaks (and the empty lines between paragraphs) folded into single blanks.
    connect(&engine, &ExchangeEngine::warning, this, [this](const QString &text) {
        write(u"ERROR", QString(text).replace(u'\r', u'\n').split(u'\n', Qt::SkipEmptyParts).join(u' '));
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

void ExchangeLog::write(QStringView kind, QStringView text)
{
    if (!isLogging())
        return;
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    line += u' ';
    line += kind;
    line += u' ';
    line += logText(text);
    line += u'\n';
    const QByteArray bytes = line.toUtf8();
    if (m_file.write(bytes) == bytes.size())
        return;
    const QString reason = QStringLiteral("Writing the log file %1 failed (%2); nothing more is logged.")
                               .arg(m_file.fileName(), m_file.errorString());
    m_stopped = true;
    m_file.close();
    emit stopped(reason);
}
