// orva-sim: the command line.
#pragma once

#include "Projector.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <termios.h>

namespace orvasim {

struct Options
{
    std::string device; // empty: serve on a pseudo-terminal
    std::optional<int> tcpPort; // listen on 127.0.0.1 instead
    int64_t baud = 19200;
    speed_t speed = B19200;
    ProjectorConfig projector;
    bool silent = false;
    int64_t delayMs = 0;
    int64_t splitBytes = 0;
    int64_t splitGapMs = 20;
    bool garbage = false;
    bool flood = false;
    std::optional<uint64_t> seed;
    bool log = false;
    bool exitOnStdinEof = false;
    std::vector<std::string> states; // --state, applied in order at start
};

void printUsage(FILE *to);

// The bits per second of a termios speed, 0 for one it does not know.
uint32_t baudOf(speed_t speed);

// Returns the options, or an exit status when the program should stop here.
std::variant<Options, int> parseArgs(int argc, char **argv);

} // namespace orvasim
