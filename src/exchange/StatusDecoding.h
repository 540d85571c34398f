#pragma once
// Replies to the status queries, read once: into the status line's plain English
// (which works on the RXD trace text, see TraceRule.h, and on the command text of
// the last transmit, which decides which decoder runs) and into a typed reading
// that every front end renders (the window's status line, orva-ctl, PJLink, MQTT).

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <span>

namespace decoding {

// The power state: the projector in standby (the lamp put off by power
// management is one), counting down to on, on, cooling down, or failed.
enum class Power { On, Standby, Warming, Cooling, Fault };
// "on", "standby", "warming", "cooling", "fault".
const char *powerWord(Power power);

// What the power status tells beside the power state.
struct Faults {
    bool temperatureWarning = false;
    bool allLampsFailed = false;
    bool powerFailure = false;
    bool any() const { return temperatureWarning || allLampsFailed || powerFailure; }
};

// The rows of each query's table. `key` is the reply's status characters (its
// CR follows them); `text` the status line's words.
struct PowerRow {
    const char *key;
    const char *text;
    Power power;
    const char *powr;  // PJLink's POWR answer; nullptr: it has none (ERR4)
    const char *erst;  // PJLink's ERST error status: fan, lamp, temperature, cover, filter, other
    Faults faults;
    bool on;           // sources can be switched and pictures and sound muted
};
struct InputRow {
    const char *key;
    const char *text;
};
struct ReversalRow {
    const char *key;
    const char *text;
    const char *word;  // "none", "top-bottom", "left-right", "both"
};
struct MuteRow {
    const char *key;
    const char *text;
    bool picture;   // muted
    bool sound;
    bool settable;  // false in standby: nothing can be muted
};
struct LampModeRow {
    const char *key;
    const char *text;
    int used;  // the lamps in use, one bit each: 1 No1, 2 No2
    int on;    // the lamps on, likewise
};

// The tables, in table order.
std::span<const PowerRow> powerStatusTable();  // reply to "CR0"
std::span<const InputRow> inputTable();        // reply to "CR1", a key of one
std::span<const ReversalRow> reversalTable();  // reply to "CR4"
std::span<const MuteRow> muteTable();          // reply to "CRA"
std::span<const LampModeRow> lampModeTable();  // reply to "CR7"

struct Temperatures {
    std::optional<double> s1, s2, s3;
};

// A reply to a status query as front ends read it. Only a reply that has its
// query's form (replyFits) gives values; the rest stay empty: what the projector
// did not clearly say is not read.
struct Reading {
    QString code;                           // the query it answers: "CR0"; empty for none
    const PowerRow *power = nullptr;        // CR0
    const InputRow *input = nullptr;        // CR1
    const ReversalRow *reversal = nullptr;  // CR4
    const MuteRow *mute = nullptr;          // CRA
    const LampModeRow *lampMode = nullptr;  // CR7
    std::optional<int> lampHours;           // CR3: "01234" CR is 1234
    // CR6 in degrees Celsius, all three or none: reply characters 1-5, 8-11 and
    // 13-17, where the status line cuts them ("032.5  41.0 038.5" CR).
    Temperatures temperatures;
    std::optional<std::int16_t> pressure;   // CR PRESSURE, in hPa; none out of range
    std::optional<QString> text;            // CR9: its characters
    // The input's number (1 for "1" CR ...).
    std::optional<int> inputNumber() const;
    // A row's words without the blanks around them: "Power ON"; empty where no row was read.
    QString words() const;
};
// Reads `reply` (the reply's own characters, with its CR) to the status query
// `code` ("CR0" ...); a reading with no code for a code that is no status query.
Reading read(QStringView code, QStringView reply);

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

// Whether `reply` (the reply's own characters) has the form of an answer to the
// status query `code` ("CR0" ...): the power, reversal, lamp mode and mute status
// two characters and CR, the input one digit and CR, the lamp time five digits and
// CR, the temperatures three numbers in 17 characters and CR, the pressure a number
// and CR, any other status query printable text and CR. A reply of another form
// answers another query, or none. True for a code that is no status query.
bool replyFits(QStringView code, QStringView reply);

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
// the command prefix, `reply` the characters received, `trace` their RXD trace
// text. `status` is set when the status line is to be written; `pressureValue`
// when the pressure working value changes; `reading` (with its code) whenever the
// transmit was a status query.
struct Result {
    std::optional<QString> status;
    std::optional<std::int16_t> pressureValue;
    Reading reading;
};
Result decode(QStringView txText, QStringView prefix, QStringView reply, QStringView trace);

} // namespace decoding
