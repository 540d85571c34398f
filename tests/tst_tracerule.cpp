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
    void everyCode();
    void append_data();
    void append();
    void chunkedEqualsWhole_data();
    void chunkedEqualsWhole();
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

    const auto row = [](const char *tag, const QString &text, const char *trace) {
        QTest::newRow(tag) << text << QString::fromLatin1(trace);
    };
    row("empty", QString(), " ");                  row("C00 CR", "C00\r", " C 0 0 CR ");
    row("ACK", chars({6}), " ACK ");               row("code 20", chars({20}), " &");
    row("code 20 twice", chars({20, 20}), " &&");  row("ampersand", "&", " & ");
    row("code 20 H1", chars({20, 'H', '1'}), " &H 1 ");
    row("CR", chars({13}), " CR ");                row("LF", chars({10}), " LF ");
    row("CR LF", chars({13, 10}), " CR LF ");      row("NUL", chars({0}), " ? ");
    row("four controls", chars({6, 20, 13, 10}), " ACK &CR LF ");
    row("tab", chars({9}), " ? ");                 row("code 31", chars({31}), " ? ");
    row("blank", " ", "   ");                      row("question mark", "?", " ? ");
    row("z (122)", "z", " z ");                    row("lower case", "ff", " f f ");
    row("{ (123)", "{", " ? ");                    row("DEL", chars({127}), " ? ");
    row("euro sign", chars({0x20AC}), " ? ");      row("code 0xFFFF", chars({0xFFFF}), " ? ");
    row("surrogate pair", chars({0xD83D, 0xDE00}), " ? ? ");
    row("ACK then reply", "\x06" "12345\r", " ACK 1 2 3 4 5 CR ");
    row("mixed", "a{Z}\x7f\r\n", " a ? Z ? ? CR LF ");
    QTest::newRow("longest reply") << QString(32767, u'7') << u' ' + QString("7 ").repeated(32767);
}

void TstTraceRule::rendering()
{
    QFETCH(QString, text);
    QFETCH(QString, trace);
    QCOMPARE(traceText(text), trace);
}

void TstTraceRule::everyCode()
{
    for (int code = 0; code <= 0xFFFF; ++code) {
        const QChar c{char16_t(code)};
        QString expected = code == 6 ? " ACK " : code == 10 ? " LF " : code == 13 ? " CR "
                         : code == 20 ? " &" : " ? ";
        if (code >= 32 && code <= 122)
            expected = QString(u' ') + c + u' ';
        QVERIFY2(traceText(QString(c)) == expected, qPrintable(QString::number(code)));
    }
}

void TstTraceRule::append_data()
{
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("to an empty string") << QString() << "C0" << "C 0 ";
    QTest::newRow("to a fresh trace") << " " << "C0" << " C 0 ";
    QTest::newRow("second chunk") << " 8 " << "0\r" << " 8 0 CR ";
    QTest::newRow("nothing to append") << " 8 " << QString() << " 8 ";
    QTest::newRow("after an ampersand") << " &" << "H" << " &H ";
    QTest::newRow("ACK chunk") << " " << chars({6}) << " ACK ";
}

void TstTraceRule::append()
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

QTEST_APPLESS_MAIN(TstTraceRule)
#include "tst_tracerule.moc"
