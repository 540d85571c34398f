#include "TraceRule.h"


namespace {

// Number of trace characters one received character turns into.
constexpr qsizetype renderedLength(char16_t code)
{
    switch (code) {
    case 6:  return 4;   // "ACK "
    case 20: return 1;   // "&"
    case 13: return 3;   // "CR "
    case 10: return 3;   // "LF "
    default: return 2;   // the character or "?", then a blank
    }
}

inline QChar *put(QChar *out, const char *latin1)
{
    while (*latin1)
        *out++ = QLatin1Char(*latin1++);
    return out;
}

} // namespace

void appendTraceOf(QString &trace, QStringView text)
{
    if (text.isEmpty())
        return;

    qsizetype extra = 0;
    for (const QChar c : text)
        extra += renderedLength(c.unicode());

    const qsizetype start = trace.size();
    const qsizetype needed = start + extra;
    // The reply window appends one received chunk at a time; QString grows its
    // buffer geometrically, so many small chunks do not copy the whole trace each time.
    trace.resize(needed);

    QChar *out = trace.data() + start;
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        switch (code) {
        case 6:
            out = put(out, "ACK ");
            break;
        case 20:
            *out++ = QLatin1Char('&');
            break;
        case 13:
            out = put(out, "CR ");
            break;
        case 10:
            out = put(out, "LF ");
            break;
        default:
            if (code >= 32 && code <= 122)
                *out++ = c;
            else
                *out++ = QLatin1Char('?');
            *out++ = QLatin1Char(' ');
            break;
        }
    }
    Q_ASSERT(out == trace.data() + needed);
}

QString traceText(QStringView text)
{
    QString trace;
    trace.reserve(1 + 2 * text.size());
    trace.append(QLatin1Char(' '));
    appendTraceOf(trace, text);
    return trace;
}
