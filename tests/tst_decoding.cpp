// Decoding the replies to the status queries for the status line.

#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"

#include <QLocale>
#include <QString>
#include <QTest>

#include <array>
#include <limits>

using namespace decoding;

class TstDecoding : public QObject
{
    Q_OBJECT

private slots:
    void status_data();
    void status();
    void noStatus_data();
    void noStatus();
    void tableSizes();
    void lookupKeyLength_data();
    void lookupKeyLength();
    void pressureReply_data();
    void pressureReply();
    void convertPressure_data();
    void convertPressure();
    void readNumber_data();
    void readNumber();
};

namespace {

const QString kOutOfRange = QString::fromLatin1(kPressureOutOfRange);
constexpr int kNone = std::numeric_limits<int>::min();   // no value / no reading
constexpr double kInf = std::numeric_limits<double>::infinity();

// The RXD trace of a reply ending in CR.
QString replyTrace(const QString &reply)
{
    return traceText(reply + QLatin1Char('\r'));
}

QString query(const char *code)
{
    return QString::fromLatin1(code) + QLatin1Char('\r');
}

} // namespace

void TstDecoding::status_data()
{
    QTest::addColumn<QString>("txText");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("status");

    using Replies = std::initializer_list<std::array<const char *, 2>>;
    const auto replies = [](const char *code, Replies rows) {
        for (const auto &[reply, status] : rows) {
            QTest::addRow("%s %s", code, reply) << query(code) << QString()
                << replyTrace(QString::fromLatin1(reply)) << status;
        }
    };
    replies("CR0", {{"00", " Power ON"}, {"80", " Stand by"}, {"40", " Count down"},
                    {"20", " Cooling down"}, {"10", " Power Fail"}, {"08", " Temperature Warning"},
                    {"02", " NO Key input "}, {"04", " Lamp OFF by PWR Management"},
                    {"28", " Temperature Warning & cooling down"},
                    {"24", "Cooling down  PWR Management"},
                    {"88", " Temperature Warning and recoverd"},
                    {"21", " Cooling down (All Lamp FAIL)"},
                    {"81", " Cooling down & sutandby (All Lamp FAIL)"}, {"8099", " Stand by"}});
    replies("CR1", {{"1", " Computer 1"}, {"2", " Computer 2"}, {"3", " Video"},
                    {"4", " Input mode 4"}, {"37", " Video"}});
    replies("CR4", {{"11", " Normally"}, {"10", " Top/Bottom reversal"},
                    {"01", " Left/Right reversal"}, {"00", " Top/Bottom , Left/Right reversal"}});
    replies("CRA", {{"00", " Video & Audio mute OFF"}, {"01", " Video mute ON"},
                    {"02", " Audio mute ON"}, {"03", " Video & Audio mute ON"},
                    {"80", " No signal"}, {"FF", " Stand by"}});
    replies("CR7", {{"00", " All OFF : 2 Lamp mode"}, {"01", " No1 ON  : 2 Lamp mode"},
                    {"02", " No2 ON  : 2 Lamp mode"}, {"03", " No1,2 ON  : 2 Lamp mode"},
                    {"10", " All OFF : 1 Lamp mode(No1 USE)"},
                    {"11", " No1 ON  : 1 Lamp mode(No1 USE)"},
                    {"20", " All OFF : 1 Lamp mode(No2 USE)"},
                    {"22", " No2 ON  : 1 Lamp mode(No2 USE)"}});
    replies("CR3", {{"12345", " 1 2 3 4 5 CR  Hour Use"},
                    {"1234567890123456789", " 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 Hour Use"}});
    replies("CR6", {{"250301412", "  S1= 2 5 0 3 0 C  ,   S2=  1 2 CR  C , S3= C"}});

    const auto row = [](const char *tag, const QString &tx, const char *prefix,
                        const QString &trace, const char *status) {
        QTest::newRow(tag) << tx << QString::fromLatin1(prefix) << trace << status;
    };
    // Lamp time keeps the first 38 characters: 'A' is the 37th, 'B' the 38th, 'C' the 39th.
    const QString long40 = QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZABCD");
    const QString lamp = QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZA");
    row("CR3 empty", query("CR3"), "", "", " Hour Use");
    row("CR3 blank", query("CR3"), "", " ", "  Hour Use");
    for (const int length : {37, 38, 39, 40}) {
        QTest::addRow("CR3 length %d", length) << query("CR3") << QString() << long40.left(length)
            << (length == 37 ? lamp : lamp + u'B') + QStringLiteral(" Hour Use");
    }

    // Pieces 1..10, 15..22 and 25..34 of the trace, cut short at its end.
    const QString base = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl");
    const struct { int length; const char *s1, *s2, *s3; } temperatures[] = {
        {0, "", "", ""},                        {1, "A", "", ""},
        {9, "ABCDEFGHI", "", ""},               {10, "ABCDEFGHIJ", "", ""},
        {11, "ABCDEFGHIJ", "", ""},             {14, "ABCDEFGHIJ", "", ""},
        {15, "ABCDEFGHIJ", "O", ""},            {16, "ABCDEFGHIJ", "OP", ""},
        {21, "ABCDEFGHIJ", "OPQRSTU", ""},      {22, "ABCDEFGHIJ", "OPQRSTUV", ""},
        {23, "ABCDEFGHIJ", "OPQRSTUV", ""},     {24, "ABCDEFGHIJ", "OPQRSTUV", ""},
        {25, "ABCDEFGHIJ", "OPQRSTUV", "Y"},    {26, "ABCDEFGHIJ", "OPQRSTUV", "YZ"},
        {33, "ABCDEFGHIJ", "OPQRSTUV", "YZabcdefg"},
        {34, "ABCDEFGHIJ", "OPQRSTUV", "YZabcdefgh"},
        {35, "ABCDEFGHIJ", "OPQRSTUV", "YZabcdefgh"},
        {38, "ABCDEFGHIJ", "OPQRSTUV", "YZabcdefgh"},
    };
    for (const auto &t : temperatures) {
        QTest::addRow("CR6 length %d", t.length) << query("CR6") << QString()
            << base.left(t.length)
            << QStringLiteral("  S1=%1 C  ,   S2= %2 C , S3=%3 C").arg(t.s1, t.s2, t.s3);
    }

    const QString controls = replyTrace("\x06\x14\n?{");
    const QString nines = replyTrace(QString(5000, u'9'));
    row("CR9 empty", query("CR9"), "", "", "");
    row("CR9 blank", query("CR9"), "", " ", " ");
    row("CR9 reply", query("CR9"), "", " 0 0 CR ", " 0 0 CR ");
    QTest::newRow("CR9 controls") << query("CR9") << QString() << controls << controls;
    QTest::newRow("CR9 long") << query("CR9") << QString() << nines << nines;

    row("prefix @ CR0", "@CR0\r", "@", " 0 0 CR ", " Power ON");
    row("prefix @ CR1", "@CR1\r", "@", " 3 CR ", " Video");
    row("long prefix CRA", "ORVA:CRA\r", "ORVA:", " F F CR ", " Stand by");
    row("long prefix CR9", "ORVA:CR9\r", "ORVA:", " 5 CR ", " 5 CR ");
    row("prefix pressure", "01CR PRESSURE\r", "01", " 5 1 2 CR ", "650 hPa");
    row("prefix pressure hex", "01CR PRESSURE\r", "01", " & H 1 9 9 9 ", "7077 hPa");
}

void TstDecoding::status()
{
    QFETCH(QString, txText);
    QFETCH(QString, prefix);
    QFETCH(QString, trace);
    QFETCH(QString, status);

    const Result result = decode(txText, prefix, trace);
    QVERIFY(result.status.has_value());
    QCOMPARE(*result.status, status);
    QCOMPARE(result.pressureValue.has_value(), txText.contains(u"PRESSURE"));
}

void TstDecoding::noStatus_data()
{
    QTest::addColumn<QString>("txText");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("trace");

    const auto row = [](const char *tag, const char *code, const QString &trace) {
        QTest::newRow(tag) << query(code) << QString() << trace;
    };
    row("key too short", "CR0", " 8 ");          row("empty trace, key of 4", "CR0", " ");
    row("empty trace, key of 2", "CR1", " ");    row("no leading blank", "CR0", "0 0 CR ");
    row("two replies", "CR1", " 0 0 CR 1 CR ");  row("ACK first", "CR0", replyTrace("\x06" "00"));
    const char *replies[][2] = {{"CR0", "99"}, {"CR0", "NG"}, {"CRA", "ff"}, {"CRA", "F0"},
                                {"CR1", "5"}, {"CR1", "0"}, {"CR4", "22"}, {"CR7", "12"},
                                {"CR7", "33"}};
    for (const auto &[code, reply] : replies)
        QTest::addRow("%s %s", code, reply) << query(code) << QString() << replyTrace(reply);

    // " 0 0 CR " decodes after CR0, CR4, CRA and CR7; any trace after CR3, CR6, CR9
    // and CR PRESSURE. None of these queries is one of them.
    for (const char *tx : {"cr0\r", " CR0\r", "CR0 \r", "CR0", "CR0\r\n", "CR0\n", "CR00\r",
                           "CRa\r", "cr9\r", "cr3\r", "cr6\r", "CR pressure\r", "CR  PRESSURE\r",
                           "CR2\r", "CR5\r", "C00\r", "", "\r"}) {
        const QByteArray tag = QByteArray(tx).replace("\r", "\\r").replace("\n", "\\n");
        QTest::addRow("query \"%s\"", tag.constData()) << tx << QString() << " 0 0 CR ";
    }
    const char *prefixed[][2] = {{"CR0", "@"}, {"CR9", "@"}, {"#CR0", "@"},
                                 {"@CR0", ""}, {"orva:CR0", "ORVA:"}, {"@@CR0", "@"}};
    for (const auto &[tx, prefix] : prefixed)
        QTest::addRow("%s with prefix \"%s\"", tx, prefix) << query(tx) << prefix << " 0 0 CR ";
}

void TstDecoding::noStatus()
{
    QFETCH(QString, txText);
    QFETCH(QString, prefix);
    QFETCH(QString, trace);

    const Result result = decode(txText, prefix, trace);
    QVERIFY(!result.status.has_value());
    QVERIFY(!result.pressureValue.has_value());
}

void TstDecoding::tableSizes()
{
    QCOMPARE(powerStatusTable().size(), std::size_t(13));
    QCOMPARE(inputTable().size(), std::size_t(4));
    QCOMPARE(reversalTable().size(), std::size_t(4));
    QCOMPARE(muteTable().size(), std::size_t(6));
    QCOMPARE(lampModeTable().size(), std::size_t(8));
}

void TstDecoding::lookupKeyLength_data()
{
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("status");   // empty: no row found

    QTest::newRow("key of 2 in a longer trace") << 2 << " 1 0 CR " << " Computer 1";
    QTest::newRow("trace exactly the key") << 2 << " 4" << " Input mode 4";
    QTest::newRow("trace shorter than the key") << 2 << " " << "";
    QTest::newRow("key of 0") << 0 << " 1 CR " << "";
    QTest::newRow("key of 3") << 3 << " 1 CR " << "";
}

void TstDecoding::lookupKeyLength()
{
    QFETCH(int, keyLength);
    QFETCH(QString, trace);
    QFETCH(QString, status);

    QCOMPARE(lookup(inputTable(), keyLength, trace).value_or(QString()), status);
}

void TstDecoding::pressureReply_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("value");

    const auto row = [](const char *reply, const QString &status, int value) {
        QTest::newRow(reply) << QString::fromLatin1(reply) << status << value;
    };
    const auto out = kOutOfRange;
    row("0", "106 hPa", 106);       row("100", "212 hPa", 212);     row("512", "650 hPa", 650);
    row("1000", "1169 hPa", 1169);  row("1023", "1194 hPa", 1194);  row("NG", "106 hPa", 106);
    row("-100", "-1 hPa", -1);      row("6553", "7077 hPa", 7077);
    row("-6553", "-6865 hPa", -6865);
    QTest::newRow("ACK first") << "\x06" "512" << "106 hPa" << 106;
    // A hexadecimal reply takes the C of its own CR as one more digit: &H19 CR reads
    // as &H19C (412), &H199 CR as &H199C (6556), &H1999 CR as &H1999C.
    row("&H19", "544 hPa", 544);    row("&H199", out, 6556);        row("&H1999", out, kNone);
    QTest::newRow("code 20 then H19") << "\x14H19" << "544 hPa" << 544;
    // Out of range: the value is the reading while it fits 16 bits.
    row("6554", out, 6554);         row("-6554", out, -6554);       row("32767", out, 32767);
    row("-32768", out, -32768);     row("32767.5", out, kNone);     row("40000", out, kNone);
    row("1E300", out, kNone);       row("1E999", out, kNone);       row("&H10000", out, kNone);
}

void TstDecoding::pressureReply()
{
    QFETCH(QString, reply);
    QFETCH(QString, status);
    QFETCH(int, value);

    const Result result = decode(QStringLiteral("CR PRESSURE\r"), QString(), replyTrace(reply));
    QCOMPARE(result.status.value_or(QString()), status);
    QCOMPARE(result.pressureValue ? int(*result.pressureValue) : kNone, value);
}

void TstDecoding::convertPressure_data()
{
    QTest::addColumn<double>("reading");
    QTest::addColumn<int>("rounded");   // kNone: the reading does not fit 16 bits
    QTest::addColumn<QString>("text");

    const auto row = [](double reading, int rounded, const QString &text) {
        QTest::newRow(QByteArray::number(reading, 'g', QLocale::FloatingPointShortest))
            << reading << rounded << text;
    };
    const auto out = kOutOfRange;
    row(0, 0, "106 hPa");           row(100, 100, "212 hPa");       row(512, 512, "650 hPa");
    row(1000, 1000, "1169 hPa");    row(1023, 1023, "1194 hPa");    row(1, 1, "107 hPa");
    row(-1, -1, "104 hPa");         row(-100, -100, "-1 hPa");      row(1311, 1311, "1500 hPa");
    row(6552, 6552, "7076 hPa");    row(6553, 6553, "7077 hPa");
    row(-6552, -6552, "-6864 hPa"); row(-6553, -6553, "-6865 hPa");

    // Halves go to the even neighbour.
    row(0.5, 0, "106 hPa");         row(1.5, 2, "108 hPa");         row(2.5, 2, "108 hPa");
    row(3.5, 4, "110 hPa");         row(-0.5, 0, "106 hPa");        row(-1.5, -2, "103 hPa");
    row(-2.5, -2, "103 hPa");       row(-3.5, -4, "101 hPa");       row(2.4, 2, "108 hPa");
    row(2.6, 3, "109 hPa");         row(6552.5, 6552, "7076 hPa");  row(6553.4, 6553, "7077 hPa");
    row(0.49999999999999994, 0, "106 hPa");  row(2.5000000000000004, 3, "109 hPa");
    QTest::newRow("-0") << -0.0 << 0 << "106 hPa";

    // Times 5 no longer fits 16 bits.
    row(6553.5, 6554, out);         row(6554, 6554, out);           row(-6554, -6554, out);
    row(-6553.5, -6554, out);       row(32767, 32767, out);         row(32767.4, 32767, out);
    row(-32768, -32768, out);       row(-32768.5, -32768, out);

    // The reading itself does not fit 16 bits.
    row(32767.5, kNone, out);       row(32768, kNone, out);         row(-32768.6, kNone, out);
    row(-32769, kNone, out);        row(65536, kNone, out);         row(1e300, kNone, out);
    row(-1e300, kNone, out);        row(kInf, kNone, out);          row(-kInf, kNone, out);
    row(std::numeric_limits<double>::quiet_NaN(), kNone, out);
}

void TstDecoding::convertPressure()
{
    QFETCH(double, reading);
    QFETCH(int, rounded);
    QFETCH(QString, text);

    const Pressure result = decoding::convertPressure(reading);
    QCOMPARE(result.text, text);
    QCOMPARE(result.inRange, text != kOutOfRange);
    QCOMPARE(result.reading ? int(*result.reading) : kNone, rounded);
    if (result.inRange)
        QCOMPARE(QString::number(result.pressure) + QStringLiteral(" hPa"), text);
}

void TstDecoding::readNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("number");

    const auto row = [](const char *tag, const QString &text, double number) {
        QTest::newRow(tag) << text << number;
    };
    // Rows whose text is their own name.
    const auto same = [](const char *text, double number) {
        QTest::newRow(text) << QString::fromLatin1(text) << number;
    };

    // Traces as they come from the reply window; blanks, tabs and LF count nowhere.
    row("trace of 512", " 5 1 2 CR ", 512);     row("trace of -12", " - 1 2", -12);
    row("trace of 1.5", " 1 . 5", 1.5);         row("trace of NG", " N G CR ", 0);
    row("stops at CR", " 1 2 CR 3 4", 12);      row("ACK first", " ACK 5 CR ", 0);
    row("empty", "", 0);                        row("blanks only", "   \t\n ", 0);
    row("tab and LF between digits", "\t1\n2 3", 123);
    row("blank in the exponent", "1 E - 2", 0.01);
    row("CR is not skipped", "1\r2", 1);        row("form feed is not skipped", "1\f2", 1);

    // Sign, digits, decimal point.
    same("+7", 7);         same("-7", -7);         same("-", 0);         same("+-1", 0);
    same("--1", 0);        same("1-2", 1);         same("007", 7);       same(".5", 0.5);
    same("-.25", -0.25);   same("5.", 5);          same(".", 0);         same("1.2.3", 1.2);
    same("1..2", 1);       same("0.1", 0.1);       row("0.3 with blanks", " 0 . 3", 0.3);
    row("2^53+1 rounds to even", "9007199254740993", 9007199254740992.0);
    row("19 digits", " 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9", 1234567890123456789.0);
    row("many fraction digits", "0.1000000000000000055511151231257827", 0.1);

    // Exponents.
    same("1E3", 1000);     same("1e3", 1000);      same("1D3", 1000);    same("1d3", 1000);
    same("25E+1", 250);    same("1e-2", 0.01);     same("5D-1", 0.5);    same("1.5E2", 150);
    same("2.5E", 2.5);     same("1E+", 1);         same("1E2E3", 100);   same("E5", 0);
    same("1E300", 1e300);  same("1E400", kInf);    same("-1E400", -kInf);
    same("1E-400", 0);     same("1E99999999999999999999", kInf);
    same("1E-99999999999999999999", 0);            same("0E99999999999999999999", 0);
    same("0.001E310", 1e307);                      same("0.001E312", kInf);
    same("1000E-330", 0);
    const QString zeros(400, u'0');
    row("400 digits overflow", u'1' + zeros, kInf);
    row("400 digits and E-400", u'1' + zeros + QStringLiteral("E-400"), 1);
    row("30000 nines", QString(30000, u'9'), kInf);
    row("tiny fraction", QStringLiteral("0.") + zeros + u'1', 0);

    // Infinity, NaN and C hexadecimal are not numbers.
    same("INF", 0);        same("inf", 0);         same("NaN", 0);       same("-Infinity", 0);
    same("1INF", 1);       same("0x10", 0);

    // Hexadecimal and octal: 16-bit, then 32-bit two's complement.
    same("&H1999", 6553);  same("&HFF", 255);      same("&hff", 255);    same("&H7FFF", 32767);
    same("&H8000", -32768);                        same("&HFFFF", -1);
    same("&H10000", 65536);                        same("&H7FFFFFFF", 2147483647.0);
    same("&H80000000", -2147483648.0);             same("&HFFFFFFFF", -1);
    same("&H100000000", kInf);                     row("trace of &H1F", " & H 1 F", 31);
    row("trace of &H1F and CR", " & H 1 F CR ", 508);
    same("&H1G2", 1);      same("&H", 0);          same("&HG", 0);       same("&", 0);
    same("&X12", 0);       same("-&H10", 0);       same("&H-1", 0);      same("&H1.5", 1);
    same("&O17", 15);      same("&o17", 15);       same("&O77777", 32767);
    same("&O100000", -32768);                      same("&O177777", -1);
    same("&O200000", 65536);                       same("&O37777777777", -1);
    same("&O40000000000", kInf);                   same("&O78", 7);      same("&O8", 0);
}

void TstDecoding::readNumber()
{
    QFETCH(QString, text);
    QFETCH(double, number);

    // Exactly equal: QCOMPARE would compare doubles fuzzily.
    const double actual = decoding::readNumber(text);
    QVERIFY2(actual == number, qPrintable(QString::number(actual, 'g', 17)));
}

QTEST_APPLESS_MAIN(TstDecoding)
#include "tst_decoding.moc"
