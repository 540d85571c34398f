// Fuzzes the reply side: received bytes arrive in chunks, are collected (at most
// 32767 characters, later ones dropped), traced chunk by chunk on the RXD line and
// decoded for one of the status queries.
//
// Input layout: byte 0 picks the query (and whether a command prefix is used),
// byte 1 seeds the chunk sizes (and, when it is 0xFF, sends the reply twelve times
// over so that the collecting limit is reached); the rest are the received bytes.

#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"

#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr qsizetype kMaxCollected = 32767;

const char *const kQueries[] = {"CR0", "CR1", "CR4", "CR3", "CR6",
                                "CRA", "CR9", "CR PRESSURE", "CR7"};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkPressure(const decoding::Pressure &pressure)
{
    if (pressure.inRange) {
        check(pressure.reading.has_value());
        check(*pressure.reading >= -6553 && *pressure.reading <= 6553);
        check(pressure.text == QString::number(pressure.pressure) + QLatin1String(" hPa"));
    } else {
        check(pressure.text == QLatin1String(decoding::kPressureOutOfRange));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t pick = data[0];
    const std::uint8_t seed = data[1];
    const QString received = QString::fromLatin1(reinterpret_cast<const char *>(data + 2),
                                                 qsizetype(size - 2));

    const int query = pick % 9;
    const QString prefix = (pick & 0x80) ? QStringLiteral("@") : QString();
    const QString txText = prefix + QLatin1String(kQueries[query]) + QLatin1Char('\r');
    const int repeats = seed == 0xFF ? 12 : 1;

    QString collected;
    QString trace(QLatin1Char(' '));
    std::uint32_t state = seed | 0x100u;
    for (int round = 0; round < repeats; ++round) {
        for (qsizetype at = 0; at < received.size();) {
            state = state * 1103515245u + 12345u;
            const qsizetype chunk = qsizetype((state >> 16) % 97u) + 1;
            const QStringView piece = QStringView(received).mid(at, chunk);
            at += piece.size();

            const QStringView kept = piece.first(
                std::min(piece.size(), kMaxCollected - collected.size()));
            collected += kept;
            appendTraceOf(trace, kept);
        }
    }
    check(collected.size() <= kMaxCollected);
    check(trace == traceText(collected));

    // The number reader on the trace and on the raw text.
    const decoding::Pressure fromTrace = decoding::convertPressure(decoding::readNumber(trace));
    checkPressure(fromTrace);
    checkPressure(decoding::convertPressure(decoding::readNumber(collected)));

    const decoding::Result result = decoding::decode(txText, prefix, trace);
    const bool isPressure = query == 7;
    const bool isTable = query == 0 || query == 1 || query == 2 || query == 5 || query == 8;
    if (isPressure) {
        check(result.status.has_value());
        check(*result.status == fromTrace.text);
        if (fromTrace.inRange)
            check(result.pressureValue == fromTrace.pressure);
        else
            check(result.pressureValue == fromTrace.reading);
    } else {
        check(!result.pressureValue.has_value());
        if (!isTable)
            check(result.status.has_value());
        if (query == 6)
            check(*result.status == trace);
    }

    // The same query without its prefix, or with a wrong one, decodes nothing.
    const decoding::Result wrong = decoding::decode(txText, QStringLiteral("#"), trace);
    check(!wrong.status.has_value() && !wrong.pressureValue.has_value());
    return 0;
}
