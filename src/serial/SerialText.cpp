#include "SerialText.h"

#include <QStringList>

QByteArray textToLineBytes(const QString &text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        out[i] = c <= 0xFF ? char(c) : '?';
    }
    return bytes;
}

QString lineBytesToText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

std::optional<LineSettings> parseLineSettings(const QString &settings)
{
    const QStringList f = settings.split(u',');
    if (f.size() != 4)
        return std::nullopt;
    LineSettings s;
    bool ok = false;
    s.baud = f[0].trimmed().toInt(&ok);
    if (!ok || s.baud < 50 || s.baud > 4000000)
        return std::nullopt;
    const QString p = f[1].trimmed().toUpper();
    if (p.size() != 1 || !QStringLiteral("NEOMS").contains(p))
        return std::nullopt;
    s.parity = char(p.at(0).unicode());
    s.dataBits = f[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8)
        return std::nullopt;
    s.stopBits = f[3].trimmed().toInt(&ok);
    if (!ok || (s.stopBits != 1 && s.stopBits != 2))
        return std::nullopt;
    return s;
}
