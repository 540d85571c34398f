// Fuzzes the reply side: the received bytes (from byte 2 on; byte 1 0xFF sends them
// twelve times, past the 32767 characters kept), traced and decoded for the query that
// byte 0 picks. (The trace built chunk by chunk as the engine builds it: fuzz_receive.)

#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"

#include <cstdlib>

static void check(bool condition) { if (!condition) std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const char *const queries[] = {"CR0", "CR1", "CR4", "CR3", "CR6", "CRA", "CR9", "CR PRESSURE", "CR7"};
    const bool isPressure = data[0] % 9 == 7;
    const QString prefix = data[0] & 0x80 ? QStringLiteral("@") : QString();
    const QString tx = prefix + QLatin1String(queries[data[0] % 9]) + u'\r';
    const QString collected = QString::fromLatin1(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2))
                                  .repeated(data[1] == 0xFF ? 12 : 1).left(32767);
    const QString trace = traceText(collected);

    const decoding::Pressure pressure = decoding::convertPressure(decoding::readNumber(trace));
    if (pressure.inRange)
        check(pressure.text == QString::number(pressure.pressure) + QLatin1String(" hPa") && *pressure.reading >= -6553 && *pressure.reading <= 6553);
    else
        check(pressure.text == QLatin1String(decoding::kPressureOutOfRange));
    const decoding::Result result = decoding::decode(tx, prefix, collected, trace);
    // Every status query is read; a row read is the one the status line shows.
    check(result.reading.code == QLatin1String(queries[data[0] % 9]));
    check(result.reading.words().isEmpty() || result.status->trimmed() == result.reading.words());
    std::optional<std::int16_t> value;
    if (isPressure)
        value = pressure.inRange ? std::optional<std::int16_t>(pressure.pressure) : pressure.reading;
    check(result.pressureValue == value);
    check(!isPressure || result.status == pressure.text);
    check(!decoding::decode(tx, QStringLiteral("#"), collected, trace).status);  // a wrong prefix: no query
    return 0;
}
