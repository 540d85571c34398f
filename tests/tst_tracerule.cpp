// The trace rule: how commands and replies appear on the TXD and RXD lines.

#include "exchange/TraceRule.h"

#include <QString>
#include <QTest>

class TstTraceRule : public QObject
{
    Q_OBJECT

private slots:
    void rendering_data();
    void rendering();
    void everyCodeBelow32();
    void everyCodeFrom32();
    void appendsWithoutLeadingBlank_data();
    void appendsWithoutLeadingBlank();
    void chunkedEqualsWhole_data();
    void chunkedEqualsWhole();
    void longestReply();
};

namespace {

QString chars(std::initializer_list<char16_t> codes)
{
    QString text;
    for (const char16_t code : codes)
        text.append(QChar(code));
    return text;
}

// A text that goes through every kind of character several times.
QString mixedText(qsizetype length)
{
    QString text;
    text.reserve(length);
    const char16_t extra[] = {6, 20, 13, 10, 0x7F, 0xFF, 0x20AC, 0xD83D, 0xDE00, 0xFFFF};
    for (qsizetype i = 0; text.size() < length; ++i) {
        text.append(QChar(char16_t(i % 160)));
        if (i % 7 == 0 && text.size() < length)
            text.append(QChar(extra[(i / 7) % std::size(extra)]));
    }
    return text;
}

} // namespace

void TstTraceRule::rendering_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trace");

    QTest::newRow("empty") << QString() << QStringLiteral(" ");
    QTest::newRow("C00 CR") << QStringLiteral("C00\r") << QStringLiteral(" C 0 0 CR ");
    QTest::newRow("ACK") << chars({6}) << QStringLiteral(" ACK ");
    QTest::newRow("code 20") << chars({20}) << QStringLiteral(" &");
    QTest::newRow("code 20 twice") << chars({20, 20}) << QStringLiteral(" &&");
    QTest::newRow("code 20 then H1") << chars({20, u'H', u'1'}) << QStringLiteral(" &H 1 ");
    QTest::newRow("ampersand itself") << QStringLiteral("&") << QStringLiteral(" & ");
    QTest::newRow("CR") << chars({13}) << QStringLiteral(" CR ");
    QTest::newRow("LF") << chars({10}) << QStringLiteral(" LF ");
    QTest::newRow("CR LF") << chars({13, 10}) << QStringLiteral(" CR LF ");
    QTest::newRow("all four controls") << chars({6, 20, 13, 10})
                                       << QStringLiteral(" ACK &CR LF ");
    QTest::newRow("NUL") << chars({0}) << QStringLiteral(" ? ");
    QTest::newRow("code 5") << chars({5}) << QStringLiteral(" ? ");
    QTest::newRow("code 7") << chars({7}) << QStringLiteral(" ? ");
    QTest::newRow("code 9 (tab)") << chars({9}) << QStringLiteral(" ? ");
    QTest::newRow("code 11") << chars({11}) << QStringLiteral(" ? ");
    QTest::newRow("code 12") << chars({12}) << QStringLiteral(" ? ");
    QTest::newRow("code 14") << chars({14}) << QStringLiteral(" ? ");
    QTest::newRow("code 19") << chars({19}) << QStringLiteral(" ? ");
    QTest::newRow("code 21") << chars({21}) << QStringLiteral(" ? ");
    QTest::newRow("code 31") << chars({31}) << QStringLiteral(" ? ");
    QTest::newRow("blank") << QStringLiteral(" ") << QStringLiteral("   ");
    QTest::newRow("exclamation mark") << QStringLiteral("!") << QStringLiteral(" ! ");
    QTest::newRow("question mark") << QStringLiteral("?") << QStringLiteral(" ? ");
    QTest::newRow("z (122)") << QStringLiteral("z") << QStringLiteral(" z ");
    QTest::newRow("lower case") << QStringLiteral("ff") << QStringLiteral(" f f ");
    QTest::newRow("{ (123)") << QStringLiteral("{") << QStringLiteral(" ? ");
    QTest::newRow("|") << QStringLiteral("|") << QStringLiteral(" ? ");
    QTest::newRow("}") << QStringLiteral("}") << QStringLiteral(" ? ");
    QTest::newRow("~") << QStringLiteral("~") << QStringLiteral(" ? ");
    QTest::newRow("DEL") << chars({127}) << QStringLiteral(" ? ");
    QTest::newRow("code 128") << chars({128}) << QStringLiteral(" ? ");
    QTest::newRow("code 255") << chars({255}) << QStringLiteral(" ? ");
    QTest::newRow("euro sign") << chars({0x20AC}) << QStringLiteral(" ? ");
    QTest::newRow("code 0xFFFF") << chars({0xFFFF}) << QStringLiteral(" ? ");
    QTest::newRow("surrogate pair is two characters") << chars({0xD83D, 0xDE00})
                                                      << QStringLiteral(" ? ? ");
    QTest::newRow("power reply") << QStringLiteral("80\r") << QStringLiteral(" 8 0 CR ");
    QTest::newRow("ACK then reply") << QStringLiteral("\x06" "12345\r")
                                    << QStringLiteral(" ACK 1 2 3 4 5 CR ");
    QTest::newRow("mixed") << QStringLiteral("a{Z}\x7f\r\n")
                           << QStringLiteral(" a ? Z ? ? CR LF ");
}

void TstTraceRule::rendering()
{
    QFETCH(QString, text);
    QFETCH(QString, trace);

    QCOMPARE(traceText(text), trace);
}

void TstTraceRule::everyCodeBelow32()
{
    for (char16_t code = 0; code < 32; ++code) {
        QString expected;
        switch (code) {
        case 6: expected = QStringLiteral(" ACK "); break;
        case 10: expected = QStringLiteral(" LF "); break;
        case 13: expected = QStringLiteral(" CR "); break;
        case 20: expected = QStringLiteral(" &"); break;
        default: expected = QStringLiteral(" ? "); break;
        }
        QVERIFY2(traceText(chars({code})) == expected, qPrintable(QString::number(code)));
    }
}

void TstTraceRule::everyCodeFrom32()
{
    for (int code = 32; code <= 0xFFFF; ++code) {
        const QString text{QChar(char16_t(code))};
        const QString expected = code <= 122 ? QLatin1Char(' ') + text + QLatin1Char(' ')
                                             : QStringLiteral(" ? ");
        QVERIFY2(traceText(text) == expected, qPrintable(QString::number(code)));
    }
}

void TstTraceRule::appendsWithoutLeadingBlank_data()
{
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("to an empty string") << QString() << QStringLiteral("C0")
                                        << QStringLiteral("C 0 ");
    QTest::newRow("to a fresh trace") << QStringLiteral(" ") << QStringLiteral("C0")
                                      << QStringLiteral(" C 0 ");
    QTest::newRow("second chunk") << QStringLiteral(" 8 ") << QStringLiteral("0\r")
                                  << QStringLiteral(" 8 0 CR ");
    QTest::newRow("nothing to append") << QStringLiteral(" 8 ") << QString()
                                       << QStringLiteral(" 8 ");
    QTest::newRow("after an ampersand") << QStringLiteral(" &") << QStringLiteral("H")
                                        << QStringLiteral(" &H ");
    QTest::newRow("ACK chunk") << QStringLiteral(" ") << chars({6})
                               << QStringLiteral(" ACK ");
}

void TstTraceRule::appendsWithoutLeadingBlank()
{
    QFETCH(QString, trace);
    QFETCH(QString, text);
    QFETCH(QString, expected);

    appendTraceOf(trace, text);
    QCOMPARE(trace, expected);
}

void TstTraceRule::chunkedEqualsWhole_data()
{
    QTest::addColumn<int>("chunkSize");

    for (const int size : {1, 2, 3, 7, 64, 1000, 4096, 32767})
        QTest::addRow("chunks of %d", size) << size;
}

void TstTraceRule::chunkedEqualsWhole()
{
    QFETCH(int, chunkSize);

    const QString text = mixedText(32767);
    QString trace(QLatin1Char(' '));
    for (qsizetype at = 0; at < text.size(); at += chunkSize)
        appendTraceOf(trace, QStringView(text).mid(at, chunkSize));
    QCOMPARE(trace, traceText(text));
}

void TstTraceRule::longestReply()
{
    // 32767 received characters, each shown as itself and a blank.
    const QString text(32767, QLatin1Char('7'));
    const QString trace = traceText(text);
    QCOMPARE(trace.size(), 1 + 2 * 32767);
    QVERIFY(trace.startsWith(QStringLiteral(" 7 7 ")));
    QVERIFY(trace.endsWith(QStringLiteral(" 7 ")));
    QCOMPARE(trace.count(QLatin1Char('7')), 32767);
}

QTEST_APPLESS_MAIN(TstTraceRule)
#include "tst_tracerule.moc"
