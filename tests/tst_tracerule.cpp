// The trace rule: how commands and replies appear on the TXD and RXD lines.

#include "exchange/TraceRule.h"

#include <QTest>

namespace {

// The rule written out: ACK, code 20, CR and LF by name, 32..122 as they are, the rest "?".
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

} // namespace

class TstTraceRule : public QObject
{
    Q_OBJECT
private slots:
    void everyByte()
    {
        for (char16_t code = 0; code <= 255; ++code)
            QVERIFY2(traceText(QString(QChar(code))) == u' ' + rendered(code), qPrintable(QString::number(code)));
        QCOMPARE(traceText(QString()), QStringLiteral(" "));
    }

    // A reply appended chunk by chunk, as the reply window does, traces as a whole.
    void appendInChunks()
    {
        QString text, expected(u' ');
        for (int i = 0; i < 40000; ++i) {
            text += QChar(char16_t(i * 7 % 256));
            expected += rendered(char16_t(i * 7 % 256));
        }
        for (const int chunk : {1, 3, 4096}) {
            QString trace(u' ');
            for (qsizetype at = 0; at < text.size(); at += chunk)
                appendTraceOf(trace, QStringView(text).mid(at, chunk));
            QCOMPARE(trace, expected);
        }
    }
};

QTEST_APPLESS_MAIN(TstTraceRule)
#include "tst_tracerule.moc"
