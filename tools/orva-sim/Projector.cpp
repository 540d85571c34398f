#include "Projector.h"

#include <algorithm>
#include <cstdio>

namespace orvasim {

// ---------------------------------------------------------------------------
// LineReader

std::vector<std::string> LineReader::feed(std::string_view bytes)
{
    std::vector<std::string> lines;
    for (const char c : bytes) {
        if (c == kLf)
            continue;
        if (c == kCr) {
            if (m_discarding)
                m_discarding = false; // the overlong line ends here, unanswered
            else
                lines.push_back(m_line);
            m_line.clear();
            continue;
        }
        if (m_discarding)
            continue;
        m_line.push_back(c);
        if (m_line.size() > kMaxLine) {
            m_line.clear();
            m_discarding = true;
        }
    }
    return lines;
}

void LineReader::reset()
{
    m_line.clear();
    m_discarding = false;
}

// ---------------------------------------------------------------------------
// Projector

namespace {

const std::vector<std::string_view> kAckCommands = {
    // power, input, mute
    "C00", "C01", "C05", "C06", "C07", "C0B", "C0C", "C0D", "C0E",
    // picture and menu
    "C0F", "C10", "C1C", "C1D", "C43", "C44", "C89", "C27", "C8A", "C1E",
    "C11", "C12", "C13", "C14", "C15", "C16", "C17", "C18", "C19",
    "CF KEYDIS NONE", "CF KEYDIS RC", "CF KEYDIS KEY",
    "C50", "C52", "C53", "C25", "C24", "C26",
    "CF TERMINAL COMPUTER", "CF TERMINAL MONITOR",
    "C32", "C33", "C34", "C81", "C82", "C83",
    "CF FANSPEED MAX", "CF FANSPEED NOR",
    "CF LOGOCAPTURE START", "CF LOGO OFF", "CF LOGO DEFAULT", "CF LOGO USER",
    // codes the panel repeats while a key is held
    "C09", "C0A", "C3C", "C3D", "C3B", "C3A", "C20", "C21", "C3F", "C30", "C31", "C8E", "C8F",
};

Reply withCr(std::string_view text)
{
    Reply r(text);
    r.push_back(kCr);
    return r;
}

} // namespace

Projector::Projector(const ProjectorConfig &config)
    : m_config(config)
    , m_power(config.startOn ? Power::On : Power::Standby)
{
    m_config.countdownMs = std::max<int64_t>(0, m_config.countdownMs);
    m_config.cooldownMs = std::max<int64_t>(0, m_config.cooldownMs);
}

const std::vector<std::string_view> &Projector::ackCommands()
{
    return kAckCommands;
}

bool Projector::isAckCommand(std::string_view code)
{
    return std::find(kAckCommands.begin(), kAckCommands.end(), code) != kAckCommands.end();
}

void Projector::tick(int64_t nowMs)
{
    // A late tick may have to complete a transition long after it was due;
    // each transition ends in a state without a timer, so one step suffices.
    if (m_power == Power::CountDown && nowMs >= m_transitionAt) {
        m_power = Power::On;
    } else if (m_power == Power::CoolDown && nowMs >= m_transitionAt) {
        m_power = Power::Standby;
        m_videoMute = false;
        m_audioMute = false;
    }
}

std::optional<int64_t> Projector::nextTransitionMs() const
{
    if (m_power == Power::CountDown || m_power == Power::CoolDown)
        return m_transitionAt;
    return std::nullopt;
}

std::string Projector::powerText() const
{
    if (m_powerOverride)
        return *m_powerOverride;
    switch (m_power) {
    case Power::Standby: return "80";
    case Power::CountDown: return "40";
    case Power::On: return "00";
    case Power::CoolDown: return "20";
    }
    return "80";
}

std::string Projector::lampText() const
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%05u",
                  static_cast<unsigned>(std::min(m_config.lampHours, kMaxLampHours)));
    return buf;
}

std::string Projector::muteText() const
{
    if (m_power == Power::Standby)
        return "FF";
    if (m_noSignal)
        return "80";
    const int bits = (m_videoMute ? 1 : 0) | (m_audioMute ? 2 : 0);
    return std::string("0") + static_cast<char>('0' + bits);
}

std::optional<Reply> Projector::query(std::string_view code) const
{
    if (code == "CR0")
        return withCr(powerText());
    if (code == "CR1")
        return withCr(std::to_string(m_input));
    if (code == "CR3")
        return withCr(lampText());
    if (code == "CR4")
        return withCr(m_reversal);
    if (code == "CR6")
        return withCr(kTemperatures);
    if (code == "CRA")
        return withCr(muteText());
    if (code == "CR7")
        return withCr(m_lampMode);
    if (code == "CR9")
        return withCr(kIdentification);
    if (code == "CR PRESSURE")
        return withCr(std::to_string(m_config.pressure));
    return std::nullopt;
}

void Projector::apply(std::string_view code, int64_t nowMs)
{
    // Only the transitions of the power cycle change the power state:
    // standby -C00-> count down -time-> on -C01-> cooling down -time-> standby.
    // A power command in any other state is acknowledged and ignored.
    if (code == "C00") {
        if (m_power == Power::Standby) {
            m_power = Power::CountDown;
            m_transitionAt = nowMs + m_config.countdownMs;
            tick(nowMs); // a zero countdown is on at once
        }
    } else if (code == "C01") {
        if (m_power == Power::On) {
            m_power = Power::CoolDown;
            m_transitionAt = nowMs + m_config.cooldownMs;
            tick(nowMs);
        }
    } else if (code == "C05") {
        m_input = 1;
    } else if (code == "C06") {
        m_input = 2;
    } else if (code == "C07") {
        m_input = 3;
    } else if (m_power != Power::Standby) {
        // No picture or sound in standby, so nothing to mute there.
        if (code == "C0D")
            m_videoMute = true;
        else if (code == "C0E")
            m_videoMute = false;
        else if (code == "C0B")
            m_audioMute = true;
        else if (code == "C0C")
            m_audioMute = false;
    }
}

std::vector<Reply> Projector::onLine(std::string_view code, int64_t nowMs)
{
    tick(nowMs);
    if (code.substr(0, kStateCommand.size()) == kStateCommand) {
        if (setState(code.substr(kStateCommand.size()), nowMs))
            return {Reply(1, kAck)};
        return {withCr("?")};
    }
    if (auto text = query(code))
        return {std::move(*text)};
    if (isAckCommand(code)) {
        apply(code, nowMs);
        return {Reply(1, kAck)};
    }
    return {withCr("?")};
}

// ---------------------------------------------------------------------------
// ReplyScheduler

ReplyScheduler::ReplyScheduler(int64_t delayMs, std::size_t splitBytes, int64_t gapMs)
    : m_delayMs(std::max<int64_t>(0, delayMs))
    , m_splitBytes(splitBytes)
    , m_gapMs(std::max<int64_t>(0, gapMs))
{
}

void ReplyScheduler::add(std::string_view reply, int64_t nowMs)
{
    if (reply.empty())
        return;
    const std::size_t step = m_splitBytes == 0 ? reply.size() : m_splitBytes;
    const int64_t gap = m_splitBytes == 0 ? 0 : m_gapMs;
    int64_t due = nowMs + m_delayMs;
    if (m_lastDue)
        due = std::max(due, *m_lastDue + gap);
    for (std::size_t pos = 0; pos < reply.size(); pos += step) {
        if (pos > 0)
            due += gap;
        m_pieces.push_back({due, std::string(reply.substr(pos, step))});
    }
    m_lastDue = due;
}

std::optional<int64_t> ReplyScheduler::nextDueMs() const
{
    if (m_pieces.empty())
        return std::nullopt;
    return m_pieces.front().dueMs;
}

std::vector<ReplyScheduler::Piece> ReplyScheduler::takeDue(int64_t nowMs)
{
    std::vector<Piece> due;
    while (!m_pieces.empty() && m_pieces.front().dueMs <= nowMs) {
        due.push_back(std::move(m_pieces.front()));
        m_pieces.pop_front();
        if (m_splitBytes == 0 || m_pieces.empty())
            continue;
        // Taken late: keep the gap to the next piece by moving everything
        // still waiting, so the spacing seen on the line is never shorter.
        const int64_t earliest = nowMs + m_gapMs;
        if (m_pieces.front().dueMs < earliest) {
            const int64_t shift = earliest - m_pieces.front().dueMs;
            for (Piece &p : m_pieces)
                p.dueMs += shift;
            *m_lastDue += shift;
        }
    }
    return due;
}

void ReplyScheduler::clear()
{
    m_pieces.clear();
    m_lastDue.reset();
}

// ---------------------------------------------------------------------------
// Noise (splitmix64: every seed, zero included, gives a full-period stream)

Noise::Noise(uint64_t seed)
    : m_state(seed)
{
}

uint64_t Noise::next()
{
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

uint64_t Noise::below(uint64_t bound)
{
    // Rejection sampling keeps the draw uniform and the same on every platform.
    const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
    uint64_t v;
    do {
        v = next();
    } while (v >= limit);
    return v % bound;
}

unsigned char Noise::controlByte()
{
    // 0x00..0x1F without CR, plus DEL: 32 candidates.
    const auto v = static_cast<unsigned char>(below(32));
    if (v == 0x0D)
        return 0x7F;
    return v;
}

unsigned char Noise::highByte()
{
    return static_cast<unsigned char>(0x80 + below(0x80));
}

std::string Noise::garbage()
{
    const std::size_t len = kMinGarbage + below(kMaxGarbage - kMinGarbage + 1);
    std::string out(len, '\0');
    for (auto &c : out)
        c = static_cast<char>(below(2) ? highByte() : controlByte());
    // Make sure both kinds are present.
    const std::size_t ctrlAt = below(len);
    std::size_t highAt = below(len - 1);
    if (highAt >= ctrlAt)
        ++highAt;
    out[ctrlAt] = static_cast<char>(controlByte());
    out[highAt] = static_cast<char>(highByte());
    out.push_back(kCr);
    return out;
}

std::string Noise::flood(std::size_t n)
{
    std::string out;
    out.reserve(n);
    while (out.size() < n) {
        if (!m_floodInLine) {
            m_floodDigitsLeft = 1 + below(kMaxFloodDigits);
            m_floodInLine = true;
        }
        if (m_floodDigitsLeft > 0) {
            out.push_back(static_cast<char>('0' + below(10)));
            --m_floodDigitsLeft;
        } else {
            out.push_back(kCr);
            m_floodInLine = false;
        }
    }
    return out;
}

} // namespace orvasim
