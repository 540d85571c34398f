#pragma once
// Long tables of expected values, kept as data in tests/reference/<name>: one row a
// line, its fields JSON values separated by commas (strings with JSON's escapes, null
// for none); a line starting with '#' is a comment. The tests run from build/tests.

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QStringList>
#include <QTest>

inline QList<QJsonArray> referenceRows(const char *name)
{
    QFile file(QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/reference/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    QList<QJsonArray> rows;
    for (const QByteArray &line : file.readAll().split('\n')) {
        QJsonParseError error{};
        if (!line.isEmpty() && !line.startsWith('#'))
            rows << QJsonDocument::fromJson('[' + line + ']', &error).array();
        if (error.error != QJsonParseError::NoError)
            qFatal("%s: %s in %s", qPrintable(file.fileName()), qPrintable(error.errorString()), line.constData());
    }
    return rows;
}

// A data function's rows, one per row of reference/<name>, tagged by its first field.
inline void addReferenceRows(const char *name)
{
    QTest::addColumn<QJsonArray>("row");
    for (const QJsonArray &row : referenceRows(name))
        QTest::newRow(qPrintable(row[0].toString())) << row;
}

// A field that holds a list of texts.
inline QStringList strings(const QJsonValue &field)
{
    QStringList out;
    for (const QJsonValue &item : field.toArray())
        out << item.toString();
    return out;
}
