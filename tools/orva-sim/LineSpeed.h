// orva-sim: what a receiver set to the wrong line speed makes of the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvasim {

// The bytes a UART receiving at receiverBaud reads from `bytes` sent back to
// back at senderBaud, both 8 data bits, no parity, 1 stop bit. Equal speeds
// give the bytes unchanged. Pure and deterministic: the same bytes and speeds
// always give the same result.
std::string receivedAtSpeed(std::string_view bytes, uint32_t senderBaud, uint32_t receiverBaud);

} // namespace orvasim
