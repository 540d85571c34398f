// orva-sim: small POSIX helpers shared by the line and the loop.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvasim {

int64_t monotonicMs();
bool setNonBlockingCloexec(int fd);

// Writes one whole log line to stderr, or drops it if stderr cannot take it
// right now (a log must never stall the line).
void writeLogLine(const std::string &line);

// A received command for the log: printable ASCII as is, the rest as \xNN.
std::string printableCode(std::string_view code);
// Bytes as upper-case hex pairs separated by blanks.
std::string hexBytes(std::string_view bytes);

} // namespace orvasim
