// The trace rule of the TXD and RXD lines, and decoding the replies to the status
// queries: the query sent, the reply, the status text, the pressure value and the
// reading.

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
    const char *tx, *reply;
    const char *status;   // nullptr: the status line is not written
    const char *reading;  // the query read, then what it read (see shown)
    int pressureValue = kNone;
    const char *prefix = "";
};

// Power: state, POWR, ERST, faults (temperature, lamps, power), whether sources and mutes can be set.
const Row kRows[] = {
    {"CR0\r", "00\r", " Power ON", "CR0: on 1 000000 --- on"}, {"CR0\r", "80\r", " Stand by", "CR0: standby 0 000000 --- off"},
    {"CR0\r", "40\r", " Count down", "CR0: warming 3 000000 --- off"}, {"CR0\r", "20\r", " Cooling down", "CR0: cooling 2 000000 --- off"},
    {"CR0\r", "10\r", " Power Fail", "CR0: fault - 000002 --P off"}, {"CR0\r", "08\r", " Temperature Warning", "CR0: on 1 001000 T-- on"},
    {"CR0\r", "02\r", " NO Key input ", "CR0: on 1 000000 --- on"}, {"CR0\r", "04\r", " Lamp OFF by PWR Management", "CR0: standby 0 000000 --- off"},
    {"CR0\r", "28\r", " Temperature Warning & cooling down", "CR0: cooling 2 001000 T-- off"},
    {"CR0\r", "24\r", "Cooling down  PWR Management", "CR0: cooling 2 000000 --- off"},
    {"CR0\r", "88\r", " Temperature Warning and recoverd", "CR0: standby 0 001000 T-- off"},
    {"CR0\r", "21\r", " Cooling down (All Lamp FAIL)", "CR0: fault 2 020000 -L- off"},
    {"CR0\r", "81\r", " Cooling down & sutandby (All Lamp FAIL)", "CR0: fault 0 020000 -L- off"},
    {"CR1\r", "1\r", " Computer 1", "CR1: input 1"}, {"CR1\r", "2\r", " Computer 2", "CR1: input 2"},
    {"CR1\r", "3\r", " Video", "CR1: input 3"}, {"CR1\r", "4\r", " Input mode 4", "CR1: input 4"},
    {"CR4\r", "11\r", " Normally", "CR4: none"}, {"CR4\r", "10\r", " Top/Bottom reversal", "CR4: top-bottom"},
    {"CR4\r", "01\r", " Left/Right reversal", "CR4: left-right"},
    {"CR4\r", "00\r", " Top/Bottom , Left/Right reversal", "CR4: both"},
    // Mutes: picture, sound, whether they can be set.
    {"CRA\r", "00\r", " Video & Audio mute OFF", "CRA: -- settable"}, {"CRA\r", "01\r", " Video mute ON", "CRA: P- settable"},
    {"CRA\r", "02\r", " Audio mute ON", "CRA: -S settable"}, {"CRA\r", "03\r", " Video & Audio mute ON", "CRA: PS settable"},
    {"CRA\r", "80\r", " No signal", "CRA: -- settable"}, {"CRA\r", "FF\r", " Stand by", "CRA: -- fixed"},
    // Lamp mode: the lamps in use, the lamps on.
    {"CR7\r", "00\r", " All OFF : 2 Lamp mode", "CR7: used 12 on "}, {"CR7\r", "01\r", " No1 ON  : 2 Lamp mode", "CR7: used 12 on 1"},
    {"CR7\r", "02\r", " No2 ON  : 2 Lamp mode", "CR7: used 12 on 2"}, {"CR7\r", "03\r", " No1,2 ON  : 2 Lamp mode", "CR7: used 12 on 12"},
    {"CR7\r", "10\r", " All OFF : 1 Lamp mode(No1 USE)", "CR7: used 1 on "}, {"CR7\r", "11\r", " No1 ON  : 1 Lamp mode(No1 USE)", "CR7: used 1 on 1"},
    {"CR7\r", "20\r", " All OFF : 1 Lamp mode(No2 USE)", "CR7: used 2 on "}, {"CR7\r", "22\r", " No2 ON  : 1 Lamp mode(No2 USE)", "CR7: used 2 on 2"},
    // Lamp time: the first 38 characters of the trace.
    {"CR3\r", "01234\r", " 0 1 2 3 4 CR  Hour Use", "CR3: 1234 hours"}, {"CR3\r", "0123a\r", " 0 1 2 3 a CR  Hour Use", "CR3:"},
    {"CR3\r", "0123456789ABCDEFGHIJ\r", " 0 1 2 3 4 5 6 7 8 9 A B C D E F G H I Hour Use", "CR3:"},
    // Temperatures: characters 1..10, 15..22 and 25..34 of the trace, cut short at its end.
    {"CR6\r", "032.5  41.0 038.5\r", "  S1= 0 3 2 . 5 C  ,   S2=  4 1 . 0 C , S3= 0 3 8 . 5 C", "CR6: 32.5 41 38.5"},
    {"CR6\r", "100.0  -1.0 020.0\r", "  S1= 1 0 0 . 0 C  ,   S2=  - 1 . 0 C , S3= 0 2 0 . 0 C", "CR6:"},
    {"CR6\r", "032.5  4\r", "  S1= 0 3 2 . 5 C  ,   S2=  4 CR  C , S3= C", "CR6:"},
    {"CR9\r", "00\r\x06\x7f\x14", " 0 0 CR ACK ? &", "CR9:"}, {"CR9\r", "TK58R 1.0\r", " T K 5 8 R   1 . 0 CR ", "CR9: TK58R 1.0"},
    // Pressure: the value is the pressure in range, else the reading while it fits 16 bits.
    {"CR PRESSURE\r", "512\r", "650 hPa", "CR PRESSURE: 650 hPa", 650}, {"CR PRESSURE\r", "6553\r", "7077 hPa", "CR PRESSURE: 7077 hPa", 7077},
    {"CR PRESSURE\r", "-6553\r", "-6865 hPa", "CR PRESSURE: -6865 hPa", -6865}, {"CR PRESSURE\r", "6554\r", kOut, "CR PRESSURE:", 6554},
    {"CR PRESSURE\r", "-6554\r", kOut, "CR PRESSURE:", -6554}, {"CR PRESSURE\r", "2.5\r", "108 hPa", "CR PRESSURE: 108 hPa", 108},
    {"CR PRESSURE\r", "3.5\r", "110 hPa", "CR PRESSURE: 110 hPa", 110}, {"CR PRESSURE\r", "32767.5\r", kOut, "CR PRESSURE:"},
    {"CR PRESSURE\r", "32767\r", kOut, "CR PRESSURE:", 32767}, {"CR PRESSURE\r", "-32768\r", kOut, "CR PRESSURE:", -32768},
    {"CR PRESSURE\r", "-32769\r", kOut, "CR PRESSURE:"}, {"CR PRESSURE\r", "1E400\r", kOut, "CR PRESSURE:"},
    // The C of CR is one more digit for the status line (&H19C); the reading takes no such number.
    {"CR PRESSURE\r", "&H19\r", "544 hPa", "CR PRESSURE:", 544},
    // With a command prefix.
    {"@CR0\r", "00\r", " Power ON", "CR0: on 1 000000 --- on", kNone, "@"}, {"ORVA:CR9\r", "5\r", " 5 CR ", "CR9: 5", kNone, "ORVA:"},
    {"01CR PRESSURE\r", "512\r", "650 hPa", "CR PRESSURE: 650 hPa", 650, "01"},
    // The status line reads the first characters; the reading the whole reply.
    {"CR0\r", "800\r", " Stand by", "CR0:"}, {"CR0\r", "80", " Stand by", "CR0:"}, {"CR1\r", "12\r", " Computer 1", "CR1:"},
    // Nothing decodes: a key that is no row, or a command that is no exact query.
    {"CR0\r", "8", nullptr, "CR0:"}, {"CR0\r", "99\r", nullptr, "CR0:"}, {"CRA\r", "ff\r", nullptr, "CRA:"}, {"CR1\r", "5\r", nullptr, "CR1:"},
    {"cr0\r", "00\r", nullptr, ""}, {"CR0", "00\r", nullptr, ""}, {"CR2\r", "00\r", nullptr, ""}, {"\r", "00\r", nullptr, ""},
    {"@CR0\r", "00\r", nullptr, ""}, {"#CR0\r", "00\r", nullptr, "", kNone, "@"},
};

// A reading written out: the query, then the values it holds.
QString shown(const decoding::Reading &r)
{
    if (r.code.isEmpty())
        return QString();
    const auto flag = [](bool on, char letter) { return on ? QChar(letter) : QChar(u'-'); };
    const auto lamps = [](int bits) { return QString((bits & 1) ? "1" : "") + ((bits & 2) ? "2" : ""); };
    QString out = r.code + u':';
    if (const decoding::PowerRow *p = r.power)
        out += QStringLiteral(" %1 %2 %3 ").arg(decoding::powerWord(p->power), p->powr ? p->powr : "-", p->erst)
             + flag(p->faults.temperatureWarning, 'T') + flag(p->faults.allLampsFailed, 'L') + flag(p->faults.powerFailure, 'P')
             + (p->on ? " on" : " off");
    if (r.input)
        out += QStringLiteral(" input %1").arg(*r.inputNumber());
    if (r.reversal)
        out += u' ' + QLatin1String(r.reversal->word);
    if (const decoding::MuteRow *m = r.mute)
        out += u' ' + QString(flag(m->picture, 'P')) + flag(m->sound, 'S') + (m->settable ? " settable" : " fixed");
    if (const decoding::LampModeRow *m = r.lampMode)
        out += QStringLiteral(" used %1 on %2").arg(lamps(m->used), lamps(m->on));
    if (r.lampHours)
        out += QStringLiteral(" %1 hours").arg(*r.lampHours);
    if (const decoding::Temperatures &t = r.temperatures; t.s1 && t.s2 && t.s3)
        out += QStringLiteral(" %1 %2 %3").arg(*t.s1).arg(*t.s2).arg(*t.s3);
    if (r.pressure)
        out += QStringLiteral(" %1 hPa").arg(*r.pressure);
    if (r.text)
        out += u' ' + *r.text;
    return out;
}

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
        const QString reply = QString::fromLatin1(r.reply);
        const decoding::Result result = decoding::decode(QString::fromLatin1(r.tx), QString::fromLatin1(r.prefix), reply,
                                                         traceText(reply));
        QCOMPARE(result.status.value_or(QStringLiteral("<none>")), QString::fromLatin1(r.status ? r.status : "<none>"));
        QCOMPARE(result.pressureValue ? int(*result.pressureValue) : kNone, r.pressureValue);
        QCOMPARE(shown(result.reading), QString::fromLatin1(r.reading));
        // A row's words are its status line's, without the blanks around them.
        const bool fromRow = result.reading.power || result.reading.input || result.reading.reversal || result.reading.mute
                      || result.reading.lampMode;
        QCOMPARE(result.reading.words(), fromRow ? QString::fromLatin1(r.status).trimmed() : QString());
    }

    // Which replies have the form of an answer to a status query; a reply of
    // another form answers another query (a late one) or none.
    void replyForms()
    {
        const std::tuple<const char *, const char *, bool> rows[] = {
            // (The forms that fit, and "800", "80" and "0123a", are rows of decode.)
            {"CR0", "8\r", false}, {"CR0", "01234\r", false}, {"CR0", "8g\r", false}, {"CR0", "\x06", false},
            {"CR1", "00\r", false}, {"CR1", "A\r", false}, {"CR3", "1234\r", false},
            {"CR6", "032.5  41.0 038\r", false}, {"CR6", "032.5  ....  38.5\r", false},
            {"CR PRESSURE", "-1.5\r", true}, {"CR PRESSURE", "NG\r", false}, {"CR9", "\x01\r", false}, {"CR9", "\r", false},
            {"C00", "\x06", true}, {"C00", "anything", true},
        };
        for (const auto &[code, reply, fits] : rows)
            QVERIFY2(decoding::replyFits(QString::fromLatin1(code), QString::fromLatin1(reply)) == fits, reply);
    }

    // A command text's first character the projector cannot take, and how it is named.
    void unsendableCharacters()
    {
        const std::pair<QString, const char *> rows[] = {
            {QString(), ""}, {QStringLiteral(" CR PRESSURE ~!"), ""}, {QString::fromLatin1("CR0\rC00"), "CR (U+000D) at position 4"},
            {QString::fromLatin1("A\0B", 3), "NUL (U+0000) at position 2"}, {QString::fromLatin1("\tX"), "TAB (U+0009) at position 1"},
            {QString::fromLatin1("\x1b[A"), "ESC (U+001B) at position 1"}, {QString::fromLatin1("AB\x7f"), "DEL (U+007F) at position 3"},
            {QString::fromLatin1("C\xe9"), "'\u00e9' (U+00E9) at position 2"},
            {QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac"), "'\u65e5' (U+65E5) at position 1"},
            {QString::fromUtf8("\xf0\x9f\x98\x80\r"), "'\U0001F600' (U+1F600) at position 1"},
            {QString::fromUtf8("A\xf0\x9f\x98\x80") + QChar(0x7f), "'\U0001F600' (U+1F600) at position 2"},
            {QStringLiteral("A") + QChar(0xD800) + QStringLiteral("B"), "a lone surrogate (U+D800) at position 2"},
            {QChar(0xDFFF), "a lone surrogate (U+DFFF) at position 1"}, {QChar(0xE000), "'\ue000' (U+E000) at position 1"},
        };
        for (const auto &[text, named] : rows) {
            const std::optional<Unsendable> bad = firstUnsendable(text);
            QCOMPARE(bad ? describe(*bad) : QString(), QString::fromUtf8(named));
        }
    }

    // The reply reader's numbers, compared exactly; a reading is a piece of a longer
    // reply (its first `length` characters, where given): nothing after the piece counts.
    void readNumber()
    {
        const struct {
            const char *text;
            double number;
            qsizetype length = -1;
        } rows[] = {
            {"", 0}, {"\t1\n2 3", 123}, {"1\r2", 1}, {"19", 19}, {"-7", -7}, {".5", 0.5}, {"1.2.3", 1.2},
            {"1E3", 1000}, {"1e3", 1000}, {"1D3", 1000}, {"1d3", 1000}, {"1 E - 2", 0.01}, {"2.5E", 2.5}, {"1E+", 1},
            {"1E400", kInf}, {"1E-400", 0}, {"1E99999999999999999999", kInf}, {"NaN", 0},
            {"&H8000", -32768}, {"&HFFFF", -1}, {"&H10000", 65536}, {"&HFFFFFFFF", -1}, {"&H100000000", kInf}, {"&ha0", 160},
            {"&H1X", 1}, {"& H 1 F", 31}, {"&H1G2", 1}, {"-&H10", 0},  // letters past F are no digits
            {"&O17", 15}, {"&o177777", -1}, {"&O40000000000", kInf},
            {"1234", 12, 2}, {"12 34", 12, 3}, {"&H1F", 1, 3}, {"&O17", 1, 3}, {"1E5", 1, 2}, {"2.5", 2, 2},
        };
        for (const auto &[text, number, length] : rows) {
            const double actual = decoding::readNumber(QStringView(QString::fromLatin1(text)).left(length));
            QVERIFY2(actual == number, qPrintable(QStringLiteral("%1 (%2): %3").arg(text).arg(length).arg(actual, 0, 'g', 17)));
        }
    }
};

QTEST_APPLESS_MAIN(TstDecoding)
#include "tst_decoding.moc"
