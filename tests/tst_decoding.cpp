// The trace rule of the TXD and RXD lines, and decoding the replies to the status
// queries: the query sent, the reply, the status text, the pressure value and the
// reading.

#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"
#include "ReferenceRows.h"

#include <QTest>

#include <limits>

namespace {

constexpr int kNone = std::numeric_limits<int>::min();

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
    // The trace rule written out: ACK, code 20, CR and LF by name, 32..122 as they are, the rest "?".
    void traceEveryByte()
    {
        const QHash<char16_t, QString> named{{6, "ACK "}, {20, "&"}, {13, "CR "}, {10, "LF "}};
        for (char16_t code = 0; code <= 255; ++code) {
            const QString rendered = named.value(code, (code >= 32 && code <= 122 ? QString(QChar(code)) : QStringLiteral("?")) + u' ');
            QVERIFY2(traceText(QString(QChar(code))) == u' ' + rendered, qPrintable(QString::number(code)));
        }
    }

    // The rows of reference/decoding.rows: the command sent, the reply, the status line
    // (null: not written), the reading, the pressure value (null: none), the prefix.
    void decode_data()
    {
        QTest::addColumn<QJsonArray>("row");
        int i = 0;
        for (const QJsonArray &row : referenceRows("decoding.rows"))
            QTest::addRow("%d: %s", i++, qPrintable(row[0].toString().replace(u'\r', QLatin1String("\\r")))) << row;
    }
    void decode()
    {
        QFETCH(QJsonArray, row);
        const QString reply = row[1].toString(), status = row[2].toString(QStringLiteral("<none>"));
        const decoding::Result result = decoding::decode(row[0].toString(), row.at(5).toString(), reply, traceText(reply));
        QCOMPARE(result.status.value_or(QStringLiteral("<none>")), status);
        QCOMPARE(result.pressureValue ? int(*result.pressureValue) : kNone, row.at(4).toInt(kNone));
        QCOMPARE(shown(result.reading), row[3].toString());
        // A row's words are its status line's, without the blanks around them.
        const bool fromRow = result.reading.power || result.reading.input || result.reading.reversal || result.reading.mute
                      || result.reading.lampMode;
        QCOMPARE(result.reading.words(), fromRow ? status.trimmed() : QString());
    }

    // Which replies have the form of an answer to a status query (reference/reply-forms.rows);
    // a reply of another form answers another query (a late one) or none.
    void replyForms()
    {
        for (const QJsonArray &r : referenceRows("reply-forms.rows"))
            QVERIFY2(decoding::replyFits(r[0].toString(), r[1].toString()) == r[2].toBool(), qPrintable(r[1].toString()));
    }

    // The reply reader's numbers (reference/numbers.rows), compared exactly; a reading is a
    // piece of a longer reply: nothing after the piece counts.
    void readNumber()
    {
        for (const QJsonArray &r : referenceRows("numbers.rows")) {
            const QString text = r[0].toString();
            const double actual = decoding::readNumber(QStringView(text).left(r[2].toInt(-1)));
            QVERIFY2(actual == (r[1].isString() ? std::numeric_limits<double>::infinity() : r[1].toDouble()),
                     qPrintable(QStringLiteral("%1 (%2): %3").arg(text).arg(r[2].toInt(-1)).arg(actual, 0, 'g', 17)));
        }
    }
};

QTEST_APPLESS_MAIN(TstDecoding)
#include "tst_decoding.moc"
