#pragma once
// Turning replies to the status queries into plain English for the status line.
// Works on the RXD trace text (see TraceRule.h), not on the raw reply, and on the
// command text of the last transmit, which decides which decoder runs.

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <span>

namespace decoding {

struct Row {
    const char *key;
    const char *text;
    // The power status as a word for scripts ("on", "standby", "warming",
    // "cooling", "fault"); only the power status rows have one.
    const char *word = nullptr;
};

// The tables, in table order. Keys are compared exactly with the first 4 (or 2)
// characters of the trace.
std::span<const Row> powerStatusTable();  // reply to "CR0", key of 4
std::span<const Row> inputTable();        // reply to "CR1", key of 2
std::span<const Row> reversalTable();     // reply to "CR4", key of 4
std::span<const Row> muteTable();         // reply to "CRA", key of 4
std::span<const Row> lampModeTable();     // reply to "CR7", key of 4

// The display text of the row whose key equals the first `keyLength` characters
// of `trace`, if any.
std::optional<QString> lookup(std::span<const Row> table, int keyLength, QStringView trace);

// Lamp time: the first 38 characters of the trace, then " Hour Use".
QString lampTimeText(QStringView trace);
// Temperatures: "  S1=" + trace[1..10] + " C  ,   S2= " + trace[15..22] + " C , S3="
// + trace[25..34] + " C" (positions from 1, pieces cut short at the end of the text).
QString temperatureText(QStringView trace);

// Reads a number the way the reply reader does: blanks, tabs and line feeds are
// skipped wherever they stand; an optional sign, digits, an optional decimal point
// with digits and an optional exponent ("E" or "D", optional sign, digits);
// reading stops at the first other character; "&H" and "&O" introduce a
// hexadecimal or octal integer; no number reads as 0.
double readNumber(QStringView text);

// The values of a reply for scripts, read from the reply's own characters (not
// its trace): the lamp time's hours ("01234" CR: 1234), and the three
// temperatures in degrees Celsius, cut where the status line cuts them (reply
// characters 1-5, 8-11, 13-17: "032.5  41.0 038.5" CR). Nothing for a reply or a
// piece that is no plain number.
std::optional<int> lampHours(QStringView reply);
struct Temperatures {
    std::optional<double> s1, s2, s3;
};
Temperatures temperatures(QStringView reply);
// Whether `reply` (the reply's own characters) has the form of an answer to the
// status query `code` ("CR0" ...): the power, reversal, lamp mode and mute status
// two characters and CR, the input one digit and CR, the lamp time five digits and
// CR, the temperatures three numbers in 17 characters and CR, the pressure a number
// and CR, any other status query printable text and CR. A reply of another form
// answers another query, or none. True for a code that is no status query.
bool replyFits(QStringView code, QStringView reply);

// The power status row's word for the reply to "CR0" traced as `trace`.
std::optional<QString> powerWord(QStringView trace);

struct Pressure {
    bool inRange = false;
    std::optional<std::int16_t> reading;   // the reading, when it fits 16 bits
    std::int16_t pressure = 0;             // the converted pressure, when inRange
    QString text;                          // the status line text
};
// Reading -> hPa: round half to even to 16 bits, times 5 in 16 bits,
// (product / 1024 - 0.204) / 0.00459 + 150, round half to even. A reading outside
// -6553..6553 (or not a finite number) gives inRange = false and a clear
// out-of-range text instead of a number.
Pressure convertPressure(double reading);

// The text a pressure reading outside the range shows.
inline constexpr const char *kPressureOutOfRange = "Pressure reading out of range";

// One decoding step. `txText` is the command text of the last transmit, `prefix`
// the command prefix, `trace` the RXD trace text. `status` is set when the status
// line is to be written; `pressureValue` when the pressure working value changes.
struct Result {
    std::optional<QString> status;
    std::optional<std::int16_t> pressureValue;
};
Result decode(QStringView txText, QStringView prefix, QStringView trace);

} // namespace decoding
