// Decoding the replies to the status queries for the status line.

#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"

#include <QString>
#include <QTest>

#include <cmath>
#include <cstring>
#include <limits>

using namespace decoding;

class TstDecoding : public QObject
{
    Q_OBJECT

private slots:
    void tableRows_data();
    void tableRows();
    void tableSizes();
    void noStatus_data();
    void noStatus();
    void notDecoded_data();
    void notDecoded();
    void prefix_data();
    void prefix();
    void lookupKeyLength_data();
    void lookupKeyLength();
    void lampTime_data();
    void lampTime();
    void temperature_data();
    void temperature();
    void wholeTrace_data();
    void wholeTrace();
    void pressureReply_data();
    void pressureReply();
    void convertPressure_data();
    void convertPressure();
    void readNumber_data();
    void readNumber();
};

namespace {

const QString kCR0 = QStringLiteral("CR0\r");
const QString kCR1 = QStringLiteral("CR1\r");
const QString kCR3 = QStringLiteral("CR3\r");
const QString kCR4 = QStringLiteral("CR4\r");
const QString kCR6 = QStringLiteral("CR6\r");
const QString kCR7 = QStringLiteral("CR7\r");
const QString kCR9 = QStringLiteral("CR9\r");
const QString kCRA = QStringLiteral("CRA\r");
const QString kPressure = QStringLiteral("CR PRESSURE\r");

const QString kOutOfRange = QString::fromLatin1(kPressureOutOfRange);

// The RXD trace of a reply ending in CR.
QString replyTrace(const QString &reply)
{
    return traceText(reply + QLatin1Char('\r'));
}

// Equal as doubles, bit for bit (so 0.1 must be the double nearest to 0.1, and
// -0 and 0 are told apart only when asked for).
bool sameDouble(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return false;
    return a == b;
}

} // namespace

void TstDecoding::tableRows_data()
{
    QTest::addColumn<QString>("txText");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("status");

    // Power status, key of 4.
    QTest::newRow("CR0 00") << kCR0 << "00" << " Power ON";
    QTest::newRow("CR0 80") << kCR0 << "80" << " Stand by";
    QTest::newRow("CR0 40") << kCR0 << "40" << " Count down";
    QTest::newRow("CR0 20") << kCR0 << "20" << " Cooling down";
    QTest::newRow("CR0 10") << kCR0 << "10" << " Power Fail";
    QTest::newRow("CR0 08") << kCR0 << "08" << " Temperature Warning";
    QTest::newRow("CR0 02") << kCR0 << "02" << " NO Key input ";
    QTest::newRow("CR0 04") << kCR0 << "04" << " Lamp OFF by PWR Management";
    QTest::newRow("CR0 28") << kCR0 << "28" << " Temperature Warning & cooling down";
    QTest::newRow("CR0 24") << kCR0 << "24" << "Cooling down  PWR Management";
    QTest::newRow("CR0 88") << kCR0 << "88" << " Temperature Warning and recoverd";
    QTest::newRow("CR0 21") << kCR0 << "21" << " Cooling down (All Lamp FAIL)";
    QTest::newRow("CR0 81") << kCR0 << "81" << " Cooling down & sutandby (All Lamp FAIL)";
    QTest::newRow("CR0 after ACK-less longer reply") << kCR0 << "8099" << " Stand by";

    // Input, key of 2.
    QTest::newRow("CR1 1") << kCR1 << "1" << " Computer 1";
    QTest::newRow("CR1 2") << kCR1 << "2" << " Computer 2";
    QTest::newRow("CR1 3") << kCR1 << "3" << " Video";
    QTest::newRow("CR1 4") << kCR1 << "4" << " Input mode 4";
    QTest::newRow("CR1 only the first digit counts") << kCR1 << "37" << " Video";

    // Reversal, key of 4.
    QTest::newRow("CR4 11") << kCR4 << "11" << " Normally";
    QTest::newRow("CR4 10") << kCR4 << "10" << " Top/Bottom reversal";
    QTest::newRow("CR4 01") << kCR4 << "01" << " Left/Right reversal";
    QTest::newRow("CR4 00") << kCR4 << "00" << " Top/Bottom , Left/Right reversal";

    // Mute, key of 4.
    QTest::newRow("CRA 00") << kCRA << "00" << " Video & Audio mute OFF";
    QTest::newRow("CRA 01") << kCRA << "01" << " Video mute ON";
    QTest::newRow("CRA 02") << kCRA << "02" << " Audio mute ON";
    QTest::newRow("CRA 03") << kCRA << "03" << " Video & Audio mute ON";
    QTest::newRow("CRA 80") << kCRA << "80" << " No signal";
    QTest::newRow("CRA FF") << kCRA << "FF" << " Stand by";

    // Lamp mode, key of 4.
    QTest::newRow("CR7 00") << kCR7 << "00" << " All OFF : 2 Lamp mode";
    QTest::newRow("CR7 01") << kCR7 << "01" << " No1 ON  : 2 Lamp mode";
    QTest::newRow("CR7 02") << kCR7 << "02" << " No2 ON  : 2 Lamp mode";
    QTest::newRow("CR7 03") << kCR7 << "03" << " No1,2 ON  : 2 Lamp mode";
    QTest::newRow("CR7 10") << kCR7 << "10" << " All OFF : 1 Lamp mode(No1 USE)";
    QTest::newRow("CR7 11") << kCR7 << "11" << " No1 ON  : 1 Lamp mode(No1 USE)";
    QTest::newRow("CR7 20") << kCR7 << "20" << " All OFF : 1 Lamp mode(No2 USE)";
    QTest::newRow("CR7 22") << kCR7 << "22" << " No2 ON  : 1 Lamp mode(No2 USE)";
}

void TstDecoding::tableRows()
{
    QFETCH(QString, txText);
    QFETCH(QString, reply);
    QFETCH(QString, status);

    const Result result = decode(txText, QString(), replyTrace(reply));
    QVERIFY(result.status.has_value());
    QCOMPARE(*result.status, status);
    QVERIFY(!result.pressureValue.has_value());
}

void TstDecoding::tableSizes()
{
    QCOMPARE(powerStatusTable().size(), std::size_t(13));
    QCOMPARE(inputTable().size(), std::size_t(4));
    QCOMPARE(reversalTable().size(), std::size_t(4));
    QCOMPARE(muteTable().size(), std::size_t(6));
    QCOMPARE(lampModeTable().size(), std::size_t(8));

    for (const Row &row : inputTable())
        QCOMPARE(std::strlen(row.key), std::size_t(2));
    for (const auto table : {powerStatusTable(), reversalTable(), muteTable(), lampModeTable()}) {
        for (const Row &row : table)
            QCOMPARE(std::strlen(row.key), std::size_t(4));
    }
}

void TstDecoding::noStatus_data()
{
    QTest::addColumn<QString>("txText");
    QTest::addColumn<QString>("trace");

    QTest::newRow("key too short after the first piece") << kCR0 << " 8 ";
    QTest::newRow("empty trace, key of 4") << kCR0 << " ";
    QTest::newRow("empty trace, key of 2") << kCR1 << " ";
    QTest::newRow("99 after CR0") << kCR0 << replyTrace("99");
    QTest::newRow("ACK before the reply") << kCR0 << replyTrace("\x06" "00");
    QTest::newRow("no leading blank") << kCR0 << "0 0 CR ";
    QTest::newRow("lower case ff after CRA") << kCRA << replyTrace("ff");
    QTest::newRow("two replies, CR1") << kCR1 << " 0 0 CR 1 CR ";
    QTest::newRow("5 after CR1") << kCR1 << replyTrace("5");
    QTest::newRow("0 after CR1") << kCR1 << replyTrace("0");
    QTest::newRow("22 after CR4") << kCR4 << replyTrace("22");
    QTest::newRow("F0 after CRA") << kCRA << replyTrace("F0");
    QTest::newRow("12 after CR7") << kCR7 << replyTrace("12");
    QTest::newRow("33 after CR7") << kCR7 << replyTrace("33");
    QTest::newRow("NG after CR0") << kCR0 << replyTrace("NG");
}

void TstDecoding::noStatus()
{
    QFETCH(QString, txText);
    QFETCH(QString, trace);

    const Result result = decode(txText, QString(), trace);
    QVERIFY(!result.status.has_value());
    QVERIFY(!result.pressureValue.has_value());
}

void TstDecoding::notDecoded_data()
{
    QTest::addColumn<QString>("txText");
    QTest::addColumn<QString>("prefix");

    // The trace " 0 0 CR " would give a status for CR0, CR4, CRA and CR7, and any
    // trace gives one for CR3, CR6, CR9 and CR PRESSURE.
    QTest::newRow("lower case cr0") << "cr0\r" << "";
    QTest::newRow("leading blank") << " CR0\r" << "";
    QTest::newRow("trailing blank") << "CR0 \r" << "";
    QTest::newRow("no CR") << "CR0" << "";
    QTest::newRow("CR LF") << "CR0\r\n" << "";
    QTest::newRow("LF instead of CR") << "CR0\n" << "";
    QTest::newRow("longer code") << "CR00\r" << "";
    QTest::newRow("lower case a") << "CRa\r" << "";
    QTest::newRow("lower case cr9") << "cr9\r" << "";
    QTest::newRow("lower case cr3") << "cr3\r" << "";
    QTest::newRow("lower case cr6") << "cr6\r" << "";
    QTest::newRow("lower case pressure") << "CR pressure\r" << "";
    QTest::newRow("two blanks before PRESSURE") << "CR  PRESSURE\r" << "";
    QTest::newRow("other query CR2") << "CR2\r" << "";
    QTest::newRow("other query CR5") << "CR5\r" << "";
    QTest::newRow("command C00") << "C00\r" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("CR alone") << "\r" << "";
    QTest::newRow("prefix missing") << "CR0\r" << "@";
    QTest::newRow("prefix missing, CR9") << "CR9\r" << "@";
    QTest::newRow("other prefix") << "#CR0\r" << "@";
    QTest::newRow("prefix not expected") << "@CR0\r" << "";
    QTest::newRow("prefix in lower case") << "orva:CR0\r" << "ORVA:";
    QTest::newRow("prefix twice") << "@@CR0\r" << "@";
}

void TstDecoding::notDecoded()
{
    QFETCH(QString, txText);
    QFETCH(QString, prefix);

    const Result result = decode(txText, prefix, QStringLiteral(" 0 0 CR "));
    QVERIFY(!result.status.has_value());
    QVERIFY(!result.pressureValue.has_value());
}

void TstDecoding::prefix_data()
{
    QTest::addColumn<QString>("txText");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("status");

    QTest::newRow("@ CR0") << "@CR0\r" << "@" << " 0 0 CR " << " Power ON";
    QTest::newRow("@ CR1") << "@CR1\r" << "@" << " 3 CR " << " Video";
    QTest::newRow("long prefix CRA") << "ORVA:CRA\r" << "ORVA:" << " F F CR " << " Stand by";
    QTest::newRow("long prefix CR9") << "ORVA:CR9\r" << "ORVA:" << " 5 CR " << " 5 CR ";
    QTest::newRow("prefix CR PRESSURE") << "01CR PRESSURE\r" << "01" << " 5 1 2 CR "
                                        << "650 hPa";
    QTest::newRow("prefix CR PRESSURE hex") << "01CR PRESSURE\r" << "01" << " & H 1 9 9 9 "
                                            << "7077 hPa";
}

void TstDecoding::prefix()
{
    QFETCH(QString, txText);
    QFETCH(QString, prefix);
    QFETCH(QString, trace);
    QFETCH(QString, status);

    const Result result = decode(txText, prefix, trace);
    QVERIFY(result.status.has_value());
    QCOMPARE(*result.status, status);
}

void TstDecoding::lookupKeyLength_data()
{
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<QString>("trace");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("status");

    QTest::newRow("key of 2 in a longer trace") << 2 << " 1 0 CR " << true << " Computer 1";
    QTest::newRow("trace exactly the key") << 2 << " 4" << true << " Input mode 4";
    QTest::newRow("trace shorter than the key") << 2 << " " << false << "";
    QTest::newRow("key of 0") << 0 << " 1 CR " << false << "";
    QTest::newRow("key of 3") << 3 << " 1 CR " << false << "";
}

void TstDecoding::lookupKeyLength()
{
    QFETCH(int, keyLength);
    QFETCH(QString, trace);
    QFETCH(bool, found);
    QFETCH(QString, status);

    const std::optional<QString> text = lookup(inputTable(), keyLength, trace);
    QCOMPARE(text.has_value(), found);
    if (found)
        QCOMPARE(*text, status);
}

void TstDecoding::lampTime_data()
{
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("status");

    // 40 characters: the 38th is 'B', the 39th 'C'.
    const QString long40 = QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZABCD");

    QTest::newRow("12345") << replyTrace("12345") << " 1 2 3 4 5 CR  Hour Use";
    QTest::newRow("empty") << "" << " Hour Use";
    QTest::newRow("blank") << " " << "  Hour Use";
    QTest::newRow("37 characters") << long40.left(37)
                                   << "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZA Hour Use";
    QTest::newRow("38 characters") << long40.left(38)
                                   << "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZAB Hour Use";
    QTest::newRow("39 characters") << long40.left(39)
                                   << "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZAB Hour Use";
    QTest::newRow("40 characters") << long40
                                   << "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZAB Hour Use";
    QTest::newRow("19 digits") << replyTrace("1234567890123456789")
                               << " 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 Hour Use";
}

void TstDecoding::lampTime()
{
    QFETCH(QString, trace);
    QFETCH(QString, status);

    QCOMPARE(lampTimeText(trace), status);
    const Result result = decode(kCR3, QString(), trace);
    QVERIFY(result.status.has_value());
    QCOMPARE(*result.status, status);
    QVERIFY(!result.pressureValue.has_value());
}

void TstDecoding::temperature_data()
{
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("status");

    // Positions 1..10 "ABCDEFGHIJ", 11..14 "KLMN", 15..22 "OPQRSTUV", 23..24 "WX",
    // 25..34 "YZabcdefgh", 35.. "ijkl".
    const QString base = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl");
    const struct {
        int length;
        const char *status;
    } rows[] = {
        {0, "  S1= C  ,   S2=  C , S3= C"},
        {1, "  S1=A C  ,   S2=  C , S3= C"},
        {9, "  S1=ABCDEFGHI C  ,   S2=  C , S3= C"},
        {10, "  S1=ABCDEFGHIJ C  ,   S2=  C , S3= C"},
        {11, "  S1=ABCDEFGHIJ C  ,   S2=  C , S3= C"},
        {14, "  S1=ABCDEFGHIJ C  ,   S2=  C , S3= C"},
        {15, "  S1=ABCDEFGHIJ C  ,   S2= O C , S3= C"},
        {16, "  S1=ABCDEFGHIJ C  ,   S2= OP C , S3= C"},
        {21, "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTU C , S3= C"},
        {22, "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3= C"},
        {23, "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3= C"},
        {24, "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3= C"},
        {25, "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3=Y C"},
        {26, "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3=YZ C"},
        {33, "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3=YZabcdefg C"},
        {34, "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3=YZabcdefgh C"},
        {35, "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3=YZabcdefgh C"},
        {38, "  S1=ABCDEFGHIJ C  ,   S2= OPQRSTUV C , S3=YZabcdefgh C"},
    };
    for (const auto &row : rows)
        QTest::addRow("length %d", row.length) << base.left(row.length) << row.status;

    QTest::newRow("reply 250301412")
        << replyTrace("250301412") << "  S1= 2 5 0 3 0 C  ,   S2=  1 2 CR  C , S3= C";
}

void TstDecoding::temperature()
{
    QFETCH(QString, trace);
    QFETCH(QString, status);

    QCOMPARE(temperatureText(trace), status);
    const Result result = decode(kCR6, QString(), trace);
    QVERIFY(result.status.has_value());
    QCOMPARE(*result.status, status);
    QVERIFY(!result.pressureValue.has_value());
}

void TstDecoding::wholeTrace_data()
{
    QTest::addColumn<QString>("trace");

    QTest::newRow("empty") << "";
    QTest::newRow("fresh trace") << " ";
    QTest::newRow("power reply") << " 0 0 CR ";
    QTest::newRow("controls") << replyTrace("\x06\x14\n?{");
    QTest::newRow("long") << replyTrace(QString(5000, QLatin1Char('9')));
}

void TstDecoding::wholeTrace()
{
    QFETCH(QString, trace);

    const Result result = decode(kCR9, QString(), trace);
    QVERIFY(result.status.has_value());
    QCOMPARE(*result.status, trace);
    QVERIFY(!result.pressureValue.has_value());
}

void TstDecoding::pressureReply_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("hasValue");
    QTest::addColumn<int>("value");

    QTest::newRow("0") << "0" << "106 hPa" << true << 106;
    QTest::newRow("100") << "100" << "212 hPa" << true << 212;
    QTest::newRow("512") << "512" << "650 hPa" << true << 650;
    QTest::newRow("1000") << "1000" << "1169 hPa" << true << 1169;
    QTest::newRow("1023") << "1023" << "1194 hPa" << true << 1194;
    QTest::newRow("no number") << "NG" << "106 hPa" << true << 106;
    QTest::newRow("-100") << "-100" << "-1 hPa" << true << -1;
    QTest::newRow("6553") << "6553" << "7077 hPa" << true << 7077;
    QTest::newRow("-6553") << "-6553" << "-6865 hPa" << true << -6865;
    // A hexadecimal reply takes the C of its own CR as one more digit: &H19 CR
    // reads as &H19C (412), &H199 CR as &H199C (6556), &H1999 CR as &H1999C.
    QTest::newRow("&H19") << "&H19" << "544 hPa" << true << 544;
    QTest::newRow("code 20 then H19") << "\x14H19" << "544 hPa" << true << 544;
    QTest::newRow("&H199") << "&H199" << kOutOfRange << true << 6556;
    QTest::newRow("&H1999") << "&H1999" << kOutOfRange << false << 0;
    QTest::newRow("ACK first reads no number") << "\x06" "512" << "106 hPa" << true << 106;
    QTest::newRow("6554") << "6554" << kOutOfRange << true << 6554;
    QTest::newRow("-6554") << "-6554" << kOutOfRange << true << -6554;
    QTest::newRow("32767") << "32767" << kOutOfRange << true << 32767;
    QTest::newRow("-32768") << "-32768" << kOutOfRange << true << -32768;
    QTest::newRow("32767.5") << "32767.5" << kOutOfRange << false << 0;
    QTest::newRow("40000") << "40000" << kOutOfRange << false << 0;
    QTest::newRow("1E300") << "1E300" << kOutOfRange << false << 0;
    QTest::newRow("1E999") << "1E999" << kOutOfRange << false << 0;
    QTest::newRow("&H10000") << "&H10000" << kOutOfRange << false << 0;
}

void TstDecoding::pressureReply()
{
    QFETCH(QString, reply);
    QFETCH(QString, status);
    QFETCH(bool, hasValue);
    QFETCH(int, value);

    const Result result = decode(kPressure, QString(), replyTrace(reply));
    QVERIFY(result.status.has_value());
    QCOMPARE(*result.status, status);
    QCOMPARE(result.pressureValue.has_value(), hasValue);
    if (hasValue)
        QCOMPARE(int(*result.pressureValue), value);
}

void TstDecoding::convertPressure_data()
{
    QTest::addColumn<double>("reading");
    QTest::addColumn<bool>("inRange");
    QTest::addColumn<bool>("hasReading");
    QTest::addColumn<int>("rounded");
    QTest::addColumn<int>("pressure");
    QTest::addColumn<QString>("text");

    const double inf = std::numeric_limits<double>::infinity();

    QTest::newRow("0") << 0.0 << true << true << 0 << 106 << "106 hPa";
    QTest::newRow("100") << 100.0 << true << true << 100 << 212 << "212 hPa";
    QTest::newRow("512") << 512.0 << true << true << 512 << 650 << "650 hPa";
    QTest::newRow("1000") << 1000.0 << true << true << 1000 << 1169 << "1169 hPa";
    QTest::newRow("1023") << 1023.0 << true << true << 1023 << 1194 << "1194 hPa";
    QTest::newRow("1") << 1.0 << true << true << 1 << 107 << "107 hPa";
    QTest::newRow("-1") << -1.0 << true << true << -1 << 104 << "104 hPa";
    QTest::newRow("-100") << -100.0 << true << true << -100 << -1 << "-1 hPa";
    QTest::newRow("1311") << 1311.0 << true << true << 1311 << 1500 << "1500 hPa";
    QTest::newRow("-6553") << -6553.0 << true << true << -6553 << -6865 << "-6865 hPa";
    QTest::newRow("6553") << 6553.0 << true << true << 6553 << 7077 << "7077 hPa";
    QTest::newRow("6552") << 6552.0 << true << true << 6552 << 7076 << "7076 hPa";
    QTest::newRow("-6552") << -6552.0 << true << true << -6552 << -6864 << "-6864 hPa";

    // Rounding the reading: halves go to the even neighbour.
    QTest::newRow("0.5") << 0.5 << true << true << 0 << 106 << "106 hPa";
    QTest::newRow("1.5") << 1.5 << true << true << 2 << 108 << "108 hPa";
    QTest::newRow("2.5") << 2.5 << true << true << 2 << 108 << "108 hPa";
    QTest::newRow("3.5") << 3.5 << true << true << 4 << 110 << "110 hPa";
    QTest::newRow("-0.5") << -0.5 << true << true << 0 << 106 << "106 hPa";
    QTest::newRow("-1.5") << -1.5 << true << true << -2 << 103 << "103 hPa";
    QTest::newRow("-2.5") << -2.5 << true << true << -2 << 103 << "103 hPa";
    QTest::newRow("-3.5") << -3.5 << true << true << -4 << 101 << "101 hPa";
    QTest::newRow("2.4") << 2.4 << true << true << 2 << 108 << "108 hPa";
    QTest::newRow("2.6") << 2.6 << true << true << 3 << 109 << "109 hPa";
    QTest::newRow("just below a half") << 0.49999999999999994 << true << true << 0 << 106
                                       << "106 hPa";
    QTest::newRow("just above 2.5") << 2.5000000000000004 << true << true << 3 << 109
                                    << "109 hPa";
    QTest::newRow("-0") << -0.0 << true << true << 0 << 106 << "106 hPa";
    QTest::newRow("6552.5") << 6552.5 << true << true << 6552 << 7076 << "7076 hPa";
    QTest::newRow("6553.4") << 6553.4 << true << true << 6553 << 7077 << "7077 hPa";

    // Times 5 no longer fits 16 bits.
    QTest::newRow("6553.5") << 6553.5 << false << true << 6554 << 0 << kOutOfRange;
    QTest::newRow("6554") << 6554.0 << false << true << 6554 << 0 << kOutOfRange;
    QTest::newRow("-6554") << -6554.0 << false << true << -6554 << 0 << kOutOfRange;
    QTest::newRow("-6553.5") << -6553.5 << false << true << -6554 << 0 << kOutOfRange;
    QTest::newRow("32767") << 32767.0 << false << true << 32767 << 0 << kOutOfRange;
    QTest::newRow("32767.4") << 32767.4 << false << true << 32767 << 0 << kOutOfRange;
    QTest::newRow("-32768") << -32768.0 << false << true << -32768 << 0 << kOutOfRange;
    QTest::newRow("-32768.5") << -32768.5 << false << true << -32768 << 0 << kOutOfRange;

    // The reading itself does not fit 16 bits.
    QTest::newRow("32767.5") << 32767.5 << false << false << 0 << 0 << kOutOfRange;
    QTest::newRow("32768") << 32768.0 << false << false << 0 << 0 << kOutOfRange;
    QTest::newRow("-32768.6") << -32768.6 << false << false << 0 << 0 << kOutOfRange;
    QTest::newRow("-32769") << -32769.0 << false << false << 0 << 0 << kOutOfRange;
    QTest::newRow("65536") << 65536.0 << false << false << 0 << 0 << kOutOfRange;
    QTest::newRow("1e300") << 1e300 << false << false << 0 << 0 << kOutOfRange;
    QTest::newRow("-1e300") << -1e300 << false << false << 0 << 0 << kOutOfRange;
    QTest::newRow("inf") << inf << false << false << 0 << 0 << kOutOfRange;
    QTest::newRow("-inf") << -inf << false << false << 0 << 0 << kOutOfRange;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << false << false << 0
                         << 0 << kOutOfRange;
}

void TstDecoding::convertPressure()
{
    QFETCH(double, reading);
    QFETCH(bool, inRange);
    QFETCH(bool, hasReading);
    QFETCH(int, rounded);
    QFETCH(int, pressure);
    QFETCH(QString, text);

    const Pressure result = decoding::convertPressure(reading);
    QCOMPARE(result.inRange, inRange);
    QCOMPARE(result.reading.has_value(), hasReading);
    if (hasReading)
        QCOMPARE(int(*result.reading), rounded);
    if (inRange)
        QCOMPARE(int(result.pressure), pressure);
    QCOMPARE(result.text, text);
}

void TstDecoding::readNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("number");

    const double inf = std::numeric_limits<double>::infinity();

    // Traces as they come from the reply window.
    QTest::newRow("trace of 512") << " 5 1 2 CR " << 512.0;
    QTest::newRow("trace of -12") << " - 1 2" << -12.0;
    QTest::newRow("trace of 1.5") << " 1 . 5" << 1.5;
    QTest::newRow("trace of NG") << " N G CR " << 0.0;
    QTest::newRow("stops at CR") << " 1 2 CR 3 4" << 12.0;
    QTest::newRow("ACK first") << " ACK 5 CR " << 0.0;

    // Blanks, tabs and line feeds do not count anywhere.
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("blanks only") << "   \t\n " << 0.0;
    QTest::newRow("tab and LF between digits") << "\t1\n2 3" << 123.0;
    QTest::newRow("blank in the exponent") << "1 E - 2" << 0.01;
    QTest::newRow("CR is not skipped") << "1\r2" << 1.0;
    QTest::newRow("form feed is not skipped") << "1\f2" << 1.0;

    // Sign, digits, decimal point.
    QTest::newRow("plus") << "+7" << 7.0;
    QTest::newRow("minus") << "-7" << -7.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("two signs") << "+-1" << 0.0;
    QTest::newRow("double minus") << "--1" << 0.0;
    QTest::newRow("minus stops") << "1-2" << 1.0;
    QTest::newRow("leading zeros") << "007" << 7.0;
    QTest::newRow("point first") << ".5" << 0.5;
    QTest::newRow("minus point") << "-.25" << -0.25;
    QTest::newRow("point last") << "5." << 5.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("two points") << "1..2" << 1.0;
    QTest::newRow("0.1 exactly rounded") << "0.1" << 0.1;
    QTest::newRow("0.3 exactly rounded") << " 0 . 3" << 0.3;
    QTest::newRow("2^53+1 rounds to even") << "9007199254740993" << 9007199254740992.0;
    QTest::newRow("19 digits") << " 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9"
                               << 1234567890123456789.0;
    QTest::newRow("many fraction digits") << "0.1000000000000000055511151231257827"
                                          << 0.1;

    // Exponents.
    QTest::newRow("E") << "1E3" << 1000.0;
    QTest::newRow("e") << "1e3" << 1000.0;
    QTest::newRow("D") << "1D3" << 1000.0;
    QTest::newRow("d") << "1d3" << 1000.0;
    QTest::newRow("E plus") << "25E+1" << 250.0;
    QTest::newRow("e minus") << "1e-2" << 0.01;
    QTest::newRow("D minus") << "5D-1" << 0.5;
    QTest::newRow("point and exponent") << "1.5E2" << 150.0;
    QTest::newRow("exponent without digits") << "2.5E" << 2.5;
    QTest::newRow("exponent sign without digits") << "1E+" << 1.0;
    QTest::newRow("second exponent stops") << "1E2E3" << 100.0;
    QTest::newRow("exponent alone") << "E5" << 0.0;
    QTest::newRow("1E300") << "1E300" << 1e300;
    QTest::newRow("1E400 overflows") << "1E400" << inf;
    QTest::newRow("-1E400 overflows") << "-1E400" << -inf;
    QTest::newRow("1E-400 underflows") << "1E-400" << 0.0;
    QTest::newRow("huge exponent") << "1E99999999999999999999" << inf;
    QTest::newRow("huge negative exponent") << "1E-99999999999999999999" << 0.0;
    QTest::newRow("zero with huge exponent") << "0E99999999999999999999" << 0.0;
    QTest::newRow("400 digits overflow") << "1" + QString(400, QLatin1Char('0')) << inf;
    QTest::newRow("400 digits and E-400") << "1" + QString(400, QLatin1Char('0')) + "E-400"
                                          << 1.0;
    QTest::newRow("30000 nines") << QString(30000, QLatin1Char('9')) << inf;
    QTest::newRow("tiny fraction") << "0." + QString(400, QLatin1Char('0')) + "1" << 0.0;
    QTest::newRow("fraction with exponent") << "0.001E310" << 1e307;
    QTest::newRow("fraction with exponent overflows") << "0.001E312" << inf;
    QTest::newRow("digits with exponent underflow") << "1000E-330" << 0.0;

    // Infinity and NaN are not numbers.
    QTest::newRow("INF") << "INF" << 0.0;
    QTest::newRow("inf") << "inf" << 0.0;
    QTest::newRow("NaN") << "NaN" << 0.0;
    QTest::newRow("-Infinity") << "-Infinity" << 0.0;
    QTest::newRow("1INF") << "1INF" << 1.0;
    QTest::newRow("0x10 is 0") << "0x10" << 0.0;

    // Hexadecimal.
    QTest::newRow("&H1999") << "&H1999" << 6553.0;
    QTest::newRow("&HFF") << "&HFF" << 255.0;
    QTest::newRow("&hff") << "&hff" << 255.0;
    QTest::newRow("&H7FFF") << "&H7FFF" << 32767.0;
    QTest::newRow("&H8000") << "&H8000" << -32768.0;
    QTest::newRow("&HFFFF") << "&HFFFF" << -1.0;
    QTest::newRow("&H10000") << "&H10000" << 65536.0;
    QTest::newRow("&H7FFFFFFF") << "&H7FFFFFFF" << 2147483647.0;
    QTest::newRow("&H80000000") << "&H80000000" << -2147483648.0;
    QTest::newRow("&HFFFFFFFF") << "&HFFFFFFFF" << -1.0;
    QTest::newRow("&H100000000 overflows") << "&H100000000" << inf;
    QTest::newRow("trace of &H1F") << " & H 1 F" << 31.0;
    QTest::newRow("trace of &H1F and CR") << " & H 1 F CR " << 508.0;
    QTest::newRow("hex stops at G") << "&H1G2" << 1.0;
    QTest::newRow("&H alone") << "&H" << 0.0;
    QTest::newRow("&HG") << "&HG" << 0.0;
    QTest::newRow("& alone") << "&" << 0.0;
    QTest::newRow("&X") << "&X12" << 0.0;
    QTest::newRow("sign before &H") << "-&H10" << 0.0;
    QTest::newRow("no sign after &H") << "&H-1" << 0.0;
    QTest::newRow("hex does not take a point") << "&H1.5" << 1.0;

    // Octal.
    QTest::newRow("&O17") << "&O17" << 15.0;
    QTest::newRow("&o17") << "&o17" << 15.0;
    QTest::newRow("&O77777") << "&O77777" << 32767.0;
    QTest::newRow("&O100000") << "&O100000" << -32768.0;
    QTest::newRow("&O177777") << "&O177777" << -1.0;
    QTest::newRow("&O200000") << "&O200000" << 65536.0;
    QTest::newRow("&O37777777777") << "&O37777777777" << -1.0;
    QTest::newRow("&O40000000000 overflows") << "&O40000000000" << inf;
    QTest::newRow("octal stops at 8") << "&O78" << 7.0;
    QTest::newRow("&O8") << "&O8" << 0.0;
}

void TstDecoding::readNumber()
{
    QFETCH(QString, text);
    QFETCH(double, number);

    const double actual = decoding::readNumber(text);
    QVERIFY2(sameDouble(actual, number),
             qPrintable(QStringLiteral("got %1, expected %2")
                            .arg(actual, 0, 'g', 17)
                            .arg(number, 0, 'g', 17)));
}

QTEST_APPLESS_MAIN(TstDecoding)
#include "tst_decoding.moc"
