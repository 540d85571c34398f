#include "exchange/CommandText.h"

namespace {

constexpr const char *kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

} // namespace

std::optional<Unsendable> firstUnsendable(QStringView text)
{
    qsizetype position = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        ++position;
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (c < 0x20 || c > 0x7E)
            return Unsendable{position, c};
    }
    return std::nullopt;
}

QString describe(const Unsendable &character)
{
    const char32_t c = character.code;
    const QString code = QStringLiteral("U+") + QString::number(uint(c), 16).toUpper().rightJustified(4, u'0');
    QString name;
    if (c < 0x20)
        name = QLatin1String(kControlNames[c]);
    else if (c == 0x7F)
        name = QStringLiteral("DEL");
    else if (c >= 0xD800 && c <= 0xDFFF)
        name = QStringLiteral("a lone surrogate");
    else
        name = QLatin1Char('\'') + QString::fromUcs4(&c, 1) + QLatin1Char('\'');
    return QStringLiteral("%1 (%2) at position %3").arg(name, code).arg(character.position);
}
