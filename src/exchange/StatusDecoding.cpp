#include "StatusDecoding.h"

#include <QLatin1String>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace decoding {

namespace {

// The first hexadecimal digit says the power state (0 on, 8 stand by, 4 count
// down, 2 cooling down, 1 failure), the second a condition beside it (8
// temperature warning, 4 power management, 2 no key input, 1 all lamps failed).
// The lamp put off by power management is a stand by; a failed lamp is a fault in
// any state.
constexpr Row kPowerStatus[] = {
    {" 0 0", " Power ON", "on"},
    {" 8 0", " Stand by", "standby"},
    {" 4 0", " Count down", "warming"},
    {" 2 0", " Cooling down", "cooling"},
    {" 1 0", " Power Fail", "fault"},
    {" 0 8", " Temperature Warning", "on"},
    {" 0 2", " NO Key input ", "on"},
    {" 0 4", " Lamp OFF by PWR Management", "standby"},
    {" 2 8", " Temperature Warning & cooling down", "cooling"},
    {" 2 4", "Cooling down  PWR Management", "cooling"},
    {" 8 8", " Temperature Warning and recoverd", "standby"},
    {" 2 1", " Cooling down (All Lamp FAIL)", "fault"},
    {" 8 1", " Cooling down & sutandby (All Lamp FAIL)", "fault"},
};

constexpr Row kInput[] = {
    {" 1", " Computer 1"},
    {" 2", " Computer 2"},
    {" 3", " Video"},
    {" 4", " Input mode 4"},
};

constexpr Row kReversal[] = {
    {" 1 1", " Normally"},
    {" 1 0", " Top/Bottom reversal"},
    {" 0 1", " Left/Right reversal"},
    {" 0 0", " Top/Bottom , Left/Right reversal"},
};

constexpr Row kMute[] = {
    {" 0 0", " Video & Audio mute OFF"},
    {" 0 1", " Video mute ON"},
    {" 0 2", " Audio mute ON"},
    {" 0 3", " Video & Audio mute ON"},
    {" 8 0", " No signal"},
    {" F F", " Stand by"},
};

constexpr Row kLampMode[] = {
    {" 0 0", " All OFF : 2 Lamp mode"},
    {" 0 1", " No1 ON  : 2 Lamp mode"},
    {" 0 2", " No2 ON  : 2 Lamp mode"},
    {" 0 3", " No1,2 ON  : 2 Lamp mode"},
    {" 1 0", " All OFF : 1 Lamp mode(No1 USE)"},
    {" 1 1", " No1 ON  : 1 Lamp mode(No1 USE)"},
    {" 2 0", " All OFF : 1 Lamp mode(No2 USE)"},
    {" 2 2", " No2 ON  : 1 Lamp mode(No2 USE)"},
};

// Characters `from`..`to` of the trace (counted from 1, both included), cut short
// at the end of the text.
QStringView piece(QStringView trace, qsizetype from, qsizetype to)
{
    const qsizetype start = from - 1;
    if (start >= trace.size())
        return {};
    const qsizetype end = std::min(to, trace.size());
    return trace.sliced(start, end - start);
}

// Rounds to the nearest integer, halves to even, independent of the current
// floating point rounding mode. `x` must be finite.
double roundHalfEven(double x)
{
    const double down = std::floor(x);
    const double fraction = x - down;   // exact near 0.5
    if (fraction < 0.5)
        return down;
    if (fraction > 0.5)
        return down + 1.0;
    return std::fmod(down, 2.0) == 0.0 ? down : down + 1.0;
}

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDecimalDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

int digitValue(char16_t c, int base)
{
    int value = -1;
    if (c >= u'0' && c <= u'9')
        value = c - u'0';
    else if (c >= u'A' && c <= u'F')
        value = c - u'A' + 10;
    else if (c >= u'a' && c <= u'f')
        value = c - u'a' + 10;
    return value < base ? value : -1;
}

// Walks a text the way the reply reader does: blanks, tabs and line feeds do not
// count, wherever they stand.
class NumberScanner
{
public:
    explicit NumberScanner(QStringView text) : m_text(text) {}

    // The next character that counts, or 0 at the end of the text.
    char16_t peek()
    {
        while (m_pos < m_text.size() && isBlank(m_text[m_pos].unicode()))
            ++m_pos;
        return m_pos < m_text.size() ? m_text[m_pos].unicode() : char16_t(0);
    }
    void advance() { ++m_pos; }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

// "&H" or "&O" has been read: the hexadecimal or octal digits that follow. Values
// up to 16 bits are two's complement 16-bit numbers (&HFFFF is -1), values up to
// 32 bits two's complement 32-bit numbers; anything larger overflows.
double readHexOrOctal(NumberScanner &scan, int base)
{
    constexpr std::uint64_t k32Bits = 0xFFFFFFFFu;
    std::uint64_t value = 0;
    bool overflow = false;
    for (;;) {
        const int digit = digitValue(scan.peek(), base);
        if (digit < 0)
            break;
        scan.advance();
        if (!overflow) {
            value = value * std::uint64_t(base) + std::uint64_t(digit);
            overflow = value > k32Bits;
        }
    }
    if (overflow)
        return std::numeric_limits<double>::infinity();
    if (value <= 0xFFFFu)
        return double(static_cast<std::int16_t>(static_cast<std::uint16_t>(value)));
    return double(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

// Sign, digits, decimal point, exponent. The digits are gathered without blanks
// and converted in one go, so the result is the correctly rounded double.
double readDecimal(NumberScanner &scan)
{
    bool negative = false;
    char16_t c = scan.peek();
    if (c == u'+' || c == u'-') {
        negative = c == u'-';
        scan.advance();
    }

    std::string integerPart;
    while (isDecimalDigit(c = scan.peek())) {
        integerPart.push_back(char(c));
        scan.advance();
    }
    std::string fractionPart;
    if (scan.peek() == u'.') {
        scan.advance();
        while (isDecimalDigit(c = scan.peek())) {
            fractionPart.push_back(char(c));
            scan.advance();
        }
    }
    if (integerPart.empty() && fractionPart.empty())
        return 0.0;

    // The exponent counts only when at least one digit follows the letter and
    // its sign; it is capped far beyond any double so that it cannot overflow.
    constexpr long long kExponentCap = 100'000'000;
    long long exponent = 0;
    c = scan.peek();
    if (c == u'E' || c == u'e' || c == u'D' || c == u'd') {
        scan.advance();
        bool exponentNegative = false;
        c = scan.peek();
        if (c == u'+' || c == u'-') {
            exponentNegative = c == u'-';
            scan.advance();
        }
        while (isDecimalDigit(c = scan.peek())) {
            exponent = std::min(kExponentCap, exponent * 10 + (c - u'0'));
            scan.advance();
        }
        if (exponentNegative)
            exponent = -exponent;
    }

    std::string number = integerPart.empty() ? std::string("0") : integerPart;
    if (!fractionPart.empty())
        number += '.' + fractionPart;
    if (exponent != 0)
        number += 'e' + std::to_string(exponent);

    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(),
                                              value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Too large or too small for a double: decide by the place of the first
        // significant digit (it is there, a zero never goes out of range).
        long long magnitude = exponent;
        const std::size_t firstInteger = integerPart.find_first_not_of('0');
        if (firstInteger != std::string::npos)
            magnitude += static_cast<long long>(integerPart.size() - firstInteger);
        else
            magnitude -= static_cast<long long>(fractionPart.find_first_not_of('0'));
        value = std::pow(10.0, double(magnitude));  // far beyond either end: infinity or 0
    } else if (error != std::errc() || end != number.data() + number.size()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

bool isQuery(QStringView txText, QStringView prefix, const char *code)
{
    const QLatin1String codeText(code);
    return txText.size() == prefix.size() + codeText.size() + 1
        && txText.startsWith(prefix, Qt::CaseSensitive)
        && txText.sliced(prefix.size(), codeText.size()).compare(codeText, Qt::CaseSensitive) == 0
        && txText.back() == u'\r';
}

} // namespace

std::span<const Row> powerStatusTable() { return kPowerStatus; }
std::span<const Row> inputTable() { return kInput; }
std::span<const Row> reversalTable() { return kReversal; }
std::span<const Row> muteTable() { return kMute; }
std::span<const Row> lampModeTable() { return kLampMode; }

namespace {

const Row *findRow(std::span<const Row> table, int keyLength, QStringView trace)
{
    const qsizetype length = std::clamp<qsizetype>(keyLength, 0, trace.size());
    const QStringView key = trace.first(length);
    for (const Row &row : table) {
        const QLatin1String rowKey(row.key);
        if (key.size() == rowKey.size() && key.compare(rowKey, Qt::CaseSensitive) == 0)
            return &row;
    }
    return nullptr;
}

// A plain decimal number with blanks around it: digits, at most one point.
std::optional<double> plainNumber(QStringView text)
{
    text = text.trimmed();
    bool ok = !text.isEmpty() && text.count(u'.') <= 1;
    for (const QChar c : text)
        ok = ok && ((c >= u'0' && c <= u'9') || c == u'.');
    return ok && text != u"." ? std::optional<double>(text.toDouble()) : std::nullopt;
}

} // namespace

std::optional<QString> lookup(std::span<const Row> table, int keyLength, QStringView trace)
{
    const Row *row = findRow(table, keyLength, trace);
    return row ? std::optional<QString>(QString::fromLatin1(row->text)) : std::nullopt;
}

std::optional<QString> powerWord(QStringView trace)
{
    const Row *row = findRow(powerStatusTable(), 4, trace);
    return row ? std::optional<QString>(QString::fromLatin1(row->word)) : std::nullopt;
}

std::optional<int> lampHours(QStringView reply)
{
    if (reply.endsWith(u'\r'))
        reply.chop(1);
    const std::optional<double> hours = reply.contains(u'.') ? std::nullopt : plainNumber(reply);
    return hours && *hours <= std::numeric_limits<int>::max() ? std::optional<int>(int(*hours)) : std::nullopt;
}

Temperatures temperatures(QStringView reply)
{
    if (reply.endsWith(u'\r'))
        reply.chop(1);
    const auto at = [reply](qsizetype from, qsizetype to) { return plainNumber(piece(reply, from, to)); };
    return {at(1, 5), at(8, 11), at(13, 17)};
}

bool replyFits(QStringView code, QStringView reply)
{
    if (!code.startsWith(u"CR"))
        return true;
    const auto form = [](const char *pattern) {
        return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(pattern)));
    };
    static const QRegularExpression kTwo = form("[0-9A-F]{2}\r"), kText = form("[ -~]+\r");
    static const std::pair<const char *, QRegularExpression> kForms[] = {
        {"CR0", kTwo}, {"CR4", kTwo}, {"CR7", kTwo}, {"CRA", kTwo},
        {"CR1", form("[0-9]\r")},
        {"CR3", form("[0-9]{5}\r")},
        {"CR6", form("[0-9. +-]{17}\r")},
        {"CR PRESSURE", form("-?[0-9]+(\\.[0-9]+)?\r")},
    };
    for (const auto &[query, pattern] : kForms)
        if (code == QLatin1String(query)) {
            if (!pattern.match(reply).hasMatch())
                return false;
            const Temperatures t = code == u"CR6" ? temperatures(reply) : Temperatures{0, 0, 0};
            return t.s1 && t.s2 && t.s3;
        }
    return kText.match(reply).hasMatch();
}

QString lampTimeText(QStringView trace)
{
    return trace.first(std::min<qsizetype>(38, trace.size())).toString()
         + QLatin1String(" Hour Use");
}

QString temperatureText(QStringView trace)
{
    QString text;
    text.reserve(64);
    text += QLatin1String("  S1=");
    text += piece(trace, 1, 10);
    text += QLatin1String(" C  ,   S2= ");
    text += piece(trace, 15, 22);
    text += QLatin1String(" C , S3=");
    text += piece(trace, 25, 34);
    text += QLatin1String(" C");
    return text;
}

double readNumber(QStringView text)
{
    NumberScanner scan(text);
    if (scan.peek() == u'&') {
        scan.advance();
        const char16_t kind = scan.peek();
        if (kind == u'H' || kind == u'h') {
            scan.advance();
            return readHexOrOctal(scan, 16);
        }
        if (kind == u'O' || kind == u'o') {
            scan.advance();
            return readHexOrOctal(scan, 8);
        }
        return 0.0;
    }
    return readDecimal(scan);
}

Pressure convertPressure(double reading)
{
    Pressure result;
    result.text = QString::fromLatin1(kPressureOutOfRange);
    if (!std::isfinite(reading))
        return result;

    const double rounded = roundHalfEven(reading);
    if (rounded < -32768.0 || rounded > 32767.0)
        return result;
    const auto value = static_cast<std::int16_t>(rounded);
    result.reading = value;

    // The product with 5 has to fit 16 bits as well.
    if (value < -6553 || value > 6553)
        return result;
    const auto product = static_cast<std::int16_t>(value * 5);

    const double hPa = (double(product) / 1024 - 0.204) / 0.00459 + 150;
    // |product| <= 32765 keeps hPa well inside -6866..7077.
    result.pressure = static_cast<std::int16_t>(roundHalfEven(hPa));
    result.inRange = true;
    result.text = QString::number(result.pressure) + QLatin1String(" hPa");
    return result;
}

Result decode(QStringView txText, QStringView prefix, QStringView trace)
{
    Result result;
    if (isQuery(txText, prefix, "CR0")) {
        result.status = lookup(powerStatusTable(), 4, trace);
    } else if (isQuery(txText, prefix, "CR1")) {
        result.status = lookup(inputTable(), 2, trace);
    } else if (isQuery(txText, prefix, "CR4")) {
        result.status = lookup(reversalTable(), 4, trace);
    } else if (isQuery(txText, prefix, "CR3")) {
        result.status = lampTimeText(trace);
    } else if (isQuery(txText, prefix, "CR6")) {
        result.status = temperatureText(trace);
    } else if (isQuery(txText, prefix, "CRA")) {
        result.status = lookup(muteTable(), 4, trace);
    } else if (isQuery(txText, prefix, "CR9")) {
        result.status = trace.toString();
    } else if (isQuery(txText, prefix, "CR PRESSURE")) {
        const Pressure pressure = convertPressure(readNumber(trace));
        if (pressure.inRange)
            result.pressureValue = pressure.pressure;
        else
            result.pressureValue = pressure.reading;
        result.status = pressure.text;
    } else if (isQuery(txText, prefix, "CR7")) {
        result.status = lookup(lampModeTable(), 4, trace);
    }
    return result;
}

} // namespace decoding
