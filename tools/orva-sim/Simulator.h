// orva-sim: the loop. One thread, one poll(); every timer (power transitions,
// delayed and split replies, flood pacing, reopen back-off) feeds the poll
// timeout.
#pragma once

#include "Line.h"
#include "Options.h"
#include "Projector.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvasim {

class Simulator
{
public:
    // quitFd: a descriptor that becomes readable when the program should stop.
    Simulator(const Options &o, int quitFd);

    int run();
    Line &line() { return m_line; }

private:
    static constexpr std::size_t kMaxOutput = 64 * 1024;

    int64_t elapsed(int64_t nowMs) const { return nowMs - m_startMs; }
    void log(int64_t nowMs, std::string_view what, std::string_view text);
    void readLine(int64_t nowMs);
    void handleCommand(const std::string &code, int64_t nowMs);
    void queueOutput(std::string_view bytes);
    // The bytes as the panel's end reads them at the speed it is set to.
    std::string asReceived(std::string_view bytes, int64_t nowMs);
    void flushOutput(int64_t nowMs);
    void topUpFlood(int64_t nowMs);
    std::optional<int64_t> nextFloodMs(int64_t nowMs) const;
    void lineLost(int64_t nowMs);
    void lineBack(int64_t nowMs);

    Options m_opt;
    int m_quitFd;
    Line m_line;
    LineReader m_reader;
    Projector m_projector;
    ReplyScheduler m_scheduler;
    Noise m_noise;
    int64_t m_startMs;
    std::string m_out; // bytes accepted for the line, not yet written
    int64_t m_floodStartMs = 0;
    uint64_t m_floodSent = 0;
    uint32_t m_panelBaud = 0; // last seen, for the log
};

} // namespace orvasim
