// The reply reader's numbers, and the pressure reading converted to hPa.

#include "StatusDecoding.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace decoding {

namespace {

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

} // namespace

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

} // namespace decoding
