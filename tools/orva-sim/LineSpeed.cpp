#include "LineSpeed.h"

namespace orvasim {

// The model. The sender drives the line: idle high, then for every byte a
// start bit (low), the eight data bits least significant first, a stop bit
// (high), the next byte right after; idle high again after the last one.
// The receiver does what a UART does at its own bit time:
//   - it waits for a falling edge (high, then low) at or after where it is;
//   - half a bit later it samples the start bit; if the line is high again it
//     was a glitch: no byte, and it waits for the next edge from there;
//   - it samples the eight data bits one bit time apart, in their middles as
//     it believes them to be, then the stop bit;
//   - the byte goes to the reader even when the stop bit reads low (a framing
//     error: a raw-mode serial port without INPCK passes the byte on as read),
//     and it waits for the next edge from the stop bit sample on.
// A receiver slower than the sender sees fewer bytes made of every other
// bit; a faster one sees more, each made of stretched bits. The CR that ends
// a reply rarely survives, so the panel sees bytes that decode to nothing.
//
// Time runs in units of 1 / (2 * senderBaud * receiverBaud) seconds, so that
// both bit times and the receiver's half bit are whole numbers.
std::string receivedAtSpeed(std::string_view bytes, uint32_t senderBaud, uint32_t receiverBaud)
{
    if (senderBaud == receiverBaud || senderBaud == 0 || receiverBaud == 0)
        return std::string(bytes);

    const int64_t sentBit = 2 * int64_t(receiverBaud);
    const int64_t readBit = 2 * int64_t(senderBaud);
    const int64_t bitCount = 10 * int64_t(bytes.size());

    // The level of the k-th bit the sender puts on the line (1 high, 0 low).
    auto sentBitAt = [&](int64_t k) -> int {
        if (k < 0 || k >= bitCount)
            return 1; // idle
        const int64_t pos = k % 10;
        if (pos == 0)
            return 0; // start
        if (pos == 9)
            return 1; // stop
        return (static_cast<unsigned char>(bytes[std::size_t(k / 10)]) >> (pos - 1)) & 1;
    };
    auto levelAt = [&](int64_t t) { return sentBitAt(t / sentBit); };

    std::string out;
    int64_t from = 0;
    for (;;) {
        // The next falling edge at or after `from`; edges fall on sender bit boundaries.
        int64_t k = (from + sentBit - 1) / sentBit;
        while (k < bitCount && !(sentBitAt(k - 1) == 1 && sentBitAt(k) == 0))
            ++k;
        if (k >= bitCount)
            break;
        const int64_t startMiddle = k * sentBit + readBit / 2;
        if (levelAt(startMiddle) != 0) {
            from = startMiddle;
            continue;
        }
        unsigned value = 0;
        for (int i = 0; i < 8; ++i)
            value |= unsigned(levelAt(startMiddle + (i + 1) * readBit)) << i;
        out.push_back(static_cast<char>(value));
        from = startMiddle + 9 * readBit;
    }
    return out;
}

} // namespace orvasim
