// orva-sim: the simulated projector's protocol logic.
//
// Everything in here is pure logic: no file descriptors, no clocks, no
// globals. Time is passed in as milliseconds on any monotonic scale, so the
// whole protocol can be driven step by step from a unit test.
//
//   LineReader      bytes from the serial line -> command lines (CR framed)
//   Projector       command line -> reply bytes, power state machine
//   ReplyScheduler  reply bytes -> timed pieces (--delay-ms, --split)
//   Noise           reproducible garbage replies and flood bytes
#pragma once

#include "Version.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvasim {

// A reply is the exact byte string to put on the wire.
using Reply = std::string;

inline constexpr char kAck = '\x06';
inline constexpr char kCr = '\r';
inline constexpr char kLf = '\n';

// ---------------------------------------------------------------------------
// LineReader: collects bytes until CR. LF is ignored wherever it appears.
// A line that grows past kMaxLine bytes without a CR is thrown away together
// with everything up to and including the next CR.
class LineReader
{
public:
    static constexpr std::size_t kMaxLine = 64;

    // Returns the complete lines (without the CR) found so far.
    std::vector<std::string> feed(std::string_view bytes);

    // True while the rest of an overlong line is being skipped.
    bool discarding() const { return m_discarding; }
    // Bytes of the current, unfinished line.
    std::size_t pendingBytes() const { return m_line.size(); }
    void reset();

private:
    std::string m_line;
    bool m_discarding = false;
};

// ---------------------------------------------------------------------------
enum class Power {
    Standby,
    CountDown, // warming up after power on
    On,
    CoolDown, // cooling down after power off
};

struct ProjectorConfig
{
    int64_t countdownMs = 3000;
    int64_t cooldownMs = 5000;
    bool startOn = false;
    uint32_t lampHours = 1234; // shown as five digits, capped at 99999
    uint32_t pressure = 512;
};

// A state the projector can be put in from outside (--state, or "!STATE" on
// the line): a name, what it means, and the reply it changes.
struct StateInfo
{
    std::string_view name;
    std::string_view meaning;
};

class Projector
{
public:
    static constexpr uint32_t kMaxLampHours = 99999;
    static constexpr std::string_view kIdentification = "TK58R SIM " ORVA_VERSION;
    static constexpr std::string_view kTemperatures = "032.5  41.0 038.5";

    explicit Projector(const ProjectorConfig &config = {});

    // Every state setState() knows, in the order --help lists them.
    static const std::vector<StateInfo> &states();
    static bool isState(std::string_view name);
    // Puts the projector into a named state at nowMs; false for an unknown name.
    bool setState(std::string_view name, int64_t nowMs);

    // Lines starting with this are the simulator's own control commands, not
    // projector commands (every projector command starts with "C"):
    // "!STATE <name>" is answered with ACK, or "?\r" for an unknown name.
    static constexpr std::string_view kStateCommand = "!STATE ";

    // Handles one command line (without its CR) received at nowMs.
    // Returns the replies in the order they go on the wire; every line gets
    // exactly one: an ACK byte, a status text followed by CR, or "?\r".
    std::vector<Reply> onLine(std::string_view code, int64_t nowMs);

    // Completes timed power transitions that are due at nowMs.
    void tick(int64_t nowMs);
    // When the next timed power transition is due, if one is pending.
    std::optional<int64_t> nextTransitionMs() const;

    Power power() const { return m_power; }
    int input() const { return m_input; }
    bool videoMute() const { return m_videoMute; }
    bool audioMute() const { return m_audioMute; }

    // Known command codes that are answered with a plain ACK
    // (this includes the ones that change state, such as C00).
    static bool isAckCommand(std::string_view code);
    static const std::vector<std::string_view> &ackCommands();

    // Status texts, without the trailing CR.
    std::string powerText() const;
    std::string lampText() const;
    std::string muteText() const;

private:
    std::optional<Reply> query(std::string_view code) const;
    void apply(std::string_view code, int64_t nowMs);

    ProjectorConfig m_config;
    Power m_power = Power::Standby;
    int64_t m_transitionAt = 0; // meaningful in CountDown and CoolDown
    int m_input = 1;
    bool m_videoMute = false;
    bool m_audioMute = false;
    // Replaces the power status of the power cycle while set (a fault, a warning).
    std::optional<std::string> m_powerOverride;
    bool m_noSignal = false;
    std::string m_reversal = "11";
    std::string m_lampMode = "03";
};

// ---------------------------------------------------------------------------
// ReplyScheduler: turns replies into timed pieces for the line.
// Each reply goes out delayMs after it was made. With splitBytes > 0 it is cut
// into pieces of that size, gapMs apart. Pieces never overtake each other: a
// reply made while an earlier one is still being sent queues behind it (and
// when splitting, keeps the gap to the previous piece). The gap is kept from
// when a piece was actually taken: if one is taken late, the rest move later.
class ReplyScheduler
{
public:
    struct Piece
    {
        int64_t dueMs;
        std::string bytes;
    };

    ReplyScheduler(int64_t delayMs = 0, std::size_t splitBytes = 0, int64_t gapMs = 20);

    void add(std::string_view reply, int64_t nowMs);
    std::optional<int64_t> nextDueMs() const;
    // Removes and returns the pieces due at or before nowMs, oldest first
    // (when splitting with a gap, at most one: the next is due a gap later).
    std::vector<Piece> takeDue(int64_t nowMs);
    bool empty() const { return m_pieces.empty(); }
    void clear();

private:
    int64_t m_delayMs;
    std::size_t m_splitBytes;
    int64_t m_gapMs;
    std::optional<int64_t> m_lastDue;
    std::deque<Piece> m_pieces;
};

// ---------------------------------------------------------------------------
// Noise: reproducible junk for robustness tests (same seed, same bytes).
class Noise
{
public:
    static constexpr std::size_t kMinGarbage = 2;
    static constexpr std::size_t kMaxGarbage = 32;
    static constexpr std::size_t kMaxFloodDigits = 16;

    explicit Noise(uint64_t seed);

    // kMinGarbage..kMaxGarbage bytes, each a control character (NUL
    // included, CR excluded) or a byte above 0x7F, with at least one of both
    // kinds, followed by one CR.
    std::string garbage();

    // The next n bytes of an endless stream of decimal digits broken into
    // lines of 1..kMaxFloodDigits digits by CR. Consecutive calls continue the
    // same stream, so the chunk sizes do not change the bytes.
    std::string flood(std::size_t n);

private:
    uint64_t next();
    uint64_t below(uint64_t bound); // uniform in [0, bound)
    unsigned char controlByte();
    unsigned char highByte();

    uint64_t m_state;
    std::size_t m_floodDigitsLeft = 0;
    bool m_floodInLine = false;
};

} // namespace orvasim
