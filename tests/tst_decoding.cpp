// The trace rule of the TXD and RXD lines, and decoding the replies to the status
// queries: the query sent, the RXD trace, the status text and the pressure value.

#include "exchange/CommandText.h"
#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"

#include <QTest>

#include <limits>

namespace {

constexpr int kNone = std::numeric_limits<int>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
const char *const kOut = "Pressure reading out of range";

// The trace rule written out: ACK, code 20, CR and LF by name, 32..122 as they are, the rest "?".
QString rendered(char16_t code)
{
    switch (code) {
    case 6: return QStringLiteral("ACK ");
    case 20: return QStringLiteral("&");
    case 13: return QStringLiteral("CR ");
    case 10: return QStringLiteral("LF ");
    }
    return (code >= 32 && code <= 122 ? QString(QChar(code)) : QStringLiteral("?")) + u' ';
}

struct Row {
    const char *tx, *trace;
    const char *status;  // nullptr: the status line is not written
    int pressureValue = kNone;
    const char *prefix = "";
};

const Row kRows[] = {
    {"CR0\r", " 0 0 CR ", " Power ON"},
    {"CR0\r", " 8 0 CR ", " Stand by"},
    {"CR0\r", " 4 0 CR ", " Count down"},
    {"CR0\r", " 2 0 CR ", " Cooling down"},
    {"CR0\r", " 1 0 CR ", " Power Fail"},
    {"CR0\r", " 0 8 CR ", " Temperature Warning"},
    {"CR0\r", " 0 2 CR ", " NO Key input "},
    {"CR0\r", " 0 4 CR ", " Lamp OFF by PWR Management"},
    {"CR0\r", " 2 8 CR ", " Temperature Warning & cooling down"},
    {"CR0\r", " 2 4 CR ", "Cooling down  PWR Management"},
    {"CR0\r", " 8 8 CR ", " Temperature Warning and recoverd"},
    {"CR0\r", " 2 1 CR ", " Cooling down (All Lamp FAIL)"},
    {"CR0\r", " 8 1 CR ", " Cooling down & sutandby (All Lamp FAIL)"},
    {"CR1\r", " 1 CR ", " Computer 1"},
    {"CR1\r", " 2 CR ", " Computer 2"},
    {"CR1\r", " 3 CR ", " Video"},
    {"CR1\r", " 4 CR ", " Input mode 4"},
    {"CR4\r", " 1 1 CR ", " Normally"},
    {"CR4\r", " 1 0 CR ", " Top/Bottom reversal"},
    {"CR4\r", " 0 1 CR ", " Left/Right reversal"},
    {"CR4\r", " 0 0 CR ", " Top/Bottom , Left/Right reversal"},
    {"CRA\r", " 0 0 CR ", " Video & Audio mute OFF"},
    {"CRA\r", " 0 1 CR ", " Video mute ON"},
    {"CRA\r", " 0 2 CR ", " Audio mute ON"},
    {"CRA\r", " 0 3 CR ", " Video & Audio mute ON"},
    {"CRA\r", " 8 0 CR ", " No signal"},
    {"CRA\r", " F F CR ", " Stand by"},
    {"CR7\r", " 0 0 CR ", " All OFF : 2 Lamp mode"},
    {"CR7\r", " 0 1 CR ", " No1 ON  : 2 Lamp mode"},
    {"CR7\r", " 0 2 CR ", " No2 ON  : 2 Lamp mode"},
    {"CR7\r", " 0 3 CR ", " No1,2 ON  : 2 Lamp mode"},
    {"CR7\r", " 1 0 CR ", " All OFF : 1 Lamp mode(No1 USE)"},
    {"CR7\r", " 1 1 CR ", " No1 ON  : 1 Lamp mode(No1 USE)"},
    {"CR7\r", " 2 0 CR ", " All OFF : 1 Lamp mode(No2 USE)"},
    {"CR7\r", " 2 2 CR ", " No2 ON  : 1 Lamp mode(No2 USE)"},
    // Lamp time: the first 38 characters of the trace.
    {"CR3\r", " 1 2 3 4 5 CR ", " 1 2 3 4 5 CR  Hour Use"},
    {"CR3\r", "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZAB", "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZAB Hour Use"},
    {"CR3\r", "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZABC", "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZAB Hour Use"},
    // Temperatures: characters 1..10, 15..22 and 25..34 of the trace, cut short at its end.
    {"CR6\r", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl", "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3=YZabcdefgh C"},
    {"CR6\r", "ABCDEFGHIJKLMNOPQRSTUVWX", "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3= C"},
    {"CR6\r", "ABCDEFGHIJKLMNO", "  S1=ABCDEFGHIJ C  ,   S2= O C , S3= C"},
    {"CR6\r", "ABCDEFGHI", "  S1=ABCDEFGHI C  ,   S2=  C , S3= C"},
    {"CR6\r", "", "  S1= C  ,   S2=  C , S3= C"},
    {"CR9\r", " 0 0 CR ACK ? &", " 0 0 CR ACK ? &"},
    // Pressure: the value is the pressure in range, else the reading while it fits 16 bits.
    {"CR PRESSURE\r", " 5 1 2 CR ", "650 hPa", 650},
    {"CR PRESSURE\r", " 6 5 5 3 CR ", "7077 hPa", 7077},
    {"CR PRESSURE\r", " - 6 5 5 3 CR ", "-6865 hPa", -6865},
    {"CR PRESSURE\r", " 6 5 5 4 CR ", kOut, 6554},
    {"CR PRESSURE\r", " - 6 5 5 4 CR ", kOut, -6554},
    {"CR PRESSURE\r", " 2 . 5 CR ", "108 hPa", 108},
    {"CR PRESSURE\r", " 3 . 5 CR ", "110 hPa", 110},
    {"CR PRESSURE\r", " 3 2 7 6 7 . 5 CR ", kOut},
    {"CR PRESSURE\r", " 3 2 7 6 7 CR ", kOut, 32767},
    {"CR PRESSURE\r", " - 3 2 7 6 8 CR ", kOut, -32768},
    {"CR PRESSURE\r", " - 3 2 7 6 9 CR ", kOut},
    {"CR PRESSURE\r", " 1 E 4 0 0 CR ", kOut},
    {"CR PRESSURE\r", " & H 1 9 CR ", "544 hPa", 544},  // the C of CR is one more digit: &H19C
    // With a command prefix.
    {"@CR0\r", " 0 0 CR ", " Power ON", kNone, "@"},
    {"ORVA:CR9\r", " 5 CR ", " 5 CR ", kNone, "ORVA:"},
    {"01CR PRESSURE\r", " 5 1 2 CR ", "650 hPa", 650, "01"},
    // Nothing decodes: a key that is no row, or a command that is no exact query.
    {"CR0\r", " 8 ", nullptr},
    {"CR0\r", " 9 9 CR ", nullptr},
    {"CRA\r", " f f CR ", nullptr},
    {"cr0\r", " 0 0 CR ", nullptr},
    {" CR0\r", " 0 0 CR ", nullptr},
    {"CR0", " 0 0 CR ", nullptr},
    {"CR0\n", " 0 0 CR ", nullptr},
    {"CR2\r", " 0 0 CR ", nullptr},
    {"\r", " 0 0 CR ", nullptr},
    {"@CR0\r", " 0 0 CR ", nullptr},
    {"#CR0\r", " 0 0 CR ", nullptr, kNone, "@"},
};

// The power status replies as scripts read them.
const std::pair<const char *, const char *> kPowerWords[] = {
    {"00", "on"}, {"80", "standby"}, {"40", "warming"}, {"20", "cooling"}, {"10", "fault"},
    {"08", "on"}, {"02", "on"}, {"04", "standby"}, {"28", "cooling"}, {"24", "cooling"},
    {"88", "standby"}, {"21", "fault"}, {"81", "fault"}, {"99", "-"}, {"0", "-"},
};

} // namespace

class TstDecoding : public QObject
{
    Q_OBJECT
private slots:
    void traceEveryByte()
    {
        for (char16_t code = 0; code <= 255; ++code)
            QVERIFY2(traceText(QString(QChar(code))) == u' ' + rendered(code), qPrintable(QString::number(code)));
    }

    void decode_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kRows)); ++i)
            QTest::addRow("%d: %s", i, QByteArray(kRows[i].tx).replace('\r', "\\r").constData()) << i;
    }
    void decode()
    {
        QFETCH(int, row);
        const Row &r = kRows[row];
        const decoding::Result result = decoding::decode(QString::fromLatin1(r.tx), QString::fromLatin1(r.prefix),
                                                         QString::fromLatin1(r.trace));
        QCOMPARE(result.status.value_or(QStringLiteral("<none>")), QString::fromLatin1(r.status ? r.status : "<none>"));
        QCOMPARE(result.pressureValue ? int(*result.pressureValue) : kNone, r.pressureValue);
    }

    // The values for scripts: the power word, the lamp hours, the three temperatures.
    void valuesForScripts()
    {
        for (const auto &[reply, word] : kPowerWords)
            QCOMPARE(decoding::powerWord(traceText(QString::fromLatin1(reply) + u'\r')).value_or(QStringLiteral("-")),
                     QString::fromLatin1(word));
        const std::pair<const char *, int> hours[] = {
            {"01234\r", 1234}, {"99999\r", 99999}, {"0\r", 0}, {" 12 \r", 12}, {"12345", 12345},
            {"\r", -1}, {"12.5\r", -1}, {"1A\r", -1}, {"-3\r", -1}, {"99999999999\r", -1},
        };
        for (const auto &[reply, value] : hours)
            QVERIFY2(decoding::lampHours(QString::fromLatin1(reply)).value_or(-1) == value, reply);
        const auto shown = [](const decoding::Temperatures &t) {
            QStringList out;
            for (const std::optional<double> &v : {t.s1, t.s2, t.s3})
                out << (v ? QString::number(*v) : QStringLiteral("-"));
            return out.join(u' ');
        };
        const std::pair<const char *, const char *> temperatures[] = {
            {"032.5  41.0 038.5\r", "32.5 41 38.5"},
            {"100.0  -1.0 020.0\r", "100 - 20"},
            {"032.5  41.0\r", "32.5 41 -"},
            {"ABCDEFGHIJKLMNOPQ\r", "- - -"},
            {"\r", "- - -"},
        };
        for (const auto &[reply, values] : temperatures)
            QCOMPARE(shown(decoding::temperatures(QString::fromLatin1(reply))), QString::fromLatin1(values));
    }

    // Which replies have the form of an answer to a status query; a reply of
    // another form answers another query (a late one) or none.
    void replyForms()
    {
        const std::tuple<const char *, const char *, bool> rows[] = {
            {"CR0", "80\r", true}, {"CR0", "8\r", false}, {"CR0", "800\r", false}, {"CR0", "80", false},
            {"CR0", "01234\r", false}, {"CR0", "8g\r", false}, {"CR0", "\x06", false},
            {"CRA", "FF\r", true}, {"CR4", "10\r", true}, {"CR7", "22\r", true},
            {"CR1", "1\r", true}, {"CR1", "00\r", false}, {"CR1", "A\r", false},
            {"CR3", "01234\r", true}, {"CR3", "1234\r", false}, {"CR3", "0123a\r", false},
            {"CR6", "032.5  41.0 038.5\r", true}, {"CR6", "032.5  41.0 038\r", false},
            {"CR6", "032.5  ....  38.5\r", false},
            {"CR PRESSURE", "512\r", true}, {"CR PRESSURE", "-1.5\r", true}, {"CR PRESSURE", "NG\r", false},
            {"CR9", "TK58R V1.0\r", true}, {"CR9", "\x01\r", false}, {"CR9", "\r", false},
            {"C00", "\x06", true}, {"C00", "anything", true},
        };
        for (const auto &[code, reply, fits] : rows)
            QVERIFY2(decoding::replyFits(QString::fromLatin1(code), QString::fromLatin1(reply)) == fits, reply);
    }

    // A command text's first character the projector cannot take, and how it is named.
    void unsendableCharacters()
    {
        const std::pair<QString, const char *> rows[] = {
            {QString(), ""},
            {QStringLiteral(" CR PRESSURE ~!"), ""},
            {QString::fromLatin1("CR0\rC00"), "CR (U+000D) at position 4"},
            {QString::fromLatin1("A\0B", 3), "NUL (U+0000) at position 2"},
            {QString::fromLatin1("\tX"), "TAB (U+0009) at position 1"},
            {QString::fromLatin1("\x1b[A"), "ESC (U+001B) at position 1"},
            {QString::fromLatin1("AB\x7f"), "DEL (U+007F) at position 3"},
            {QString::fromLatin1("C\xe9"), "'\u00e9' (U+00E9) at position 2"},
            {QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac"), "'\u65e5' (U+65E5) at position 1"},
            {QString::fromUtf8("\xf0\x9f\x98\x80\r"), "'\U0001F600' (U+1F600) at position 1"},
            {QString::fromUtf8("A\xf0\x9f\x98\x80") + QChar(0x7f), "'\U0001F600' (U+1F600) at position 2"},
            {QStringLiteral("A") + QChar(0xD800) + QStringLiteral("B"), "a lone surrogate (U+D800) at position 2"},
            {QChar(0xDFFF), "a lone surrogate (U+DFFF) at position 1"},
            {QChar(0xE000), "'\ue000' (U+E000) at position 1"},
        };
        for (const auto &[text, named] : rows) {
            const std::optional<Unsendable> bad = firstUnsendable(text);
            QCOMPARE(bad ? describe(*bad) : QString(), QString::fromUtf8(named));
        }
    }

    // The reply reader's numbers, compared exactly.
    void readNumber()
    {
        const struct {
            const char *text;
            double number;
        } rows[] = {
            {"", 0},
            {"\t1\n2 3", 123},
            {"1\r2", 1},
            {"19", 19},
            {"-7", -7},
            {".5", 0.5},
            {"1.2.3", 1.2},
            {"1E3", 1000},
            {"1e3", 1000},
            {"1D3", 1000},
            {"1d3", 1000},
            {"1 E - 2", 0.01},
            {"2.5E", 2.5},
            {"1E+", 1},
            {"1E400", kInf},
            {"1E-400", 0},
            {"1E99999999999999999999", kInf},
            {"NaN", 0},
            {"&H8000", -32768},
            {"&HFFFF", -1},
            {"&H10000", 65536},
            {"&HFFFFFFFF", -1},
            {"&H100000000", kInf},
            {"&ha0", 160},
            {"&hff", 255},
            {"&H1X", 1},  // letters past F are no digits
            {"&H1Z", 1},
            {"& H 1 F", 31},
            {"&H1G2", 1},
            {"-&H10", 0},
            {"&O17", 15},
            {"&o177777", -1},
            {"&O40000000000", kInf},
        };
        for (const auto &[text, number] : rows) {
            const double actual = decoding::readNumber(QString::fromLatin1(text));
            QVERIFY2(actual == number, qPrintable(QStringLiteral("%1: %2").arg(text).arg(actual, 0, 'g', 17)));
        }
    }

    // A reading is a piece of a longer reply: nothing after the piece counts.
    void readNumberStopsAtTheEndOfItsPiece()
    {
        const struct {
            const char16_t *reply;
            qsizetype length;
            double number;
        } rows[] = {
            {u"1234", 2, 12},
            {u"12 34", 3, 12},
            {u"&H1F", 3, 1},
            {u"&O17", 3, 1},
            {u"1E5", 2, 1},
            {u"2.5", 2, 2},
        };
        for (const auto &[reply, length, number] : rows) {
            const double actual = decoding::readNumber(QStringView(reply).left(length));
            QVERIFY2(actual == number, qPrintable(QStringLiteral("%1 (first %2): %3").arg(reply).arg(length).arg(actual)));
        }
    }
};

QTEST_APPLESS_MAIN(TstDecoding)
#include "tst_decoding.moc"
