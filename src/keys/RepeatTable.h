#pragma once
// The auto-repeat keys: volume, brightness, digital zoom, keystone and the cursor
// pad. Each sends its code at once when pressed and again every repeat interval
// while held.

#include <array>
#include <cstdint>
#include <string_view>

namespace keys {

struct RepeatKey {
    std::string_view control;
    std::uint8_t repeatCode;   // the selector the repeat tick reads
    std::string_view code;
    bool arrow;                // arrows: repeat interval left as it is, hold intervals by KeyMode
    int repeatMs;              // repeat interval set at press (not for arrows)
    int replyWindowMs;         // reply window / display hold set right after the first send (not for arrows)
    int displayHoldMs;
    bool zoom;                 // at release: repeat interval 5 ms, KeyMode 3
};

inline constexpr std::array<RepeatKey, 13> kRepeatKeys{{
    {"Command1", 1, "C09", false, 250, 200, 245, false},   // VOL +
    {"Command2", 2, "C0A", false, 250, 200, 245, false},   // VOL -
    {"Command15", 7, "C20", false, 50, 25, 25, false},     // Brightness +
    {"Command35", 8, "C21", false, 50, 25, 25, false},     // Brightness -
    {"Command48", 17, "C30", false, 250, 200, 245, true},  // D.Zoom +
    {"Command49", 18, "C31", false, 250, 200, 245, true},  // D.Zoom -
    {"Command50", 19, "C8E", false, 250, 200, 245, false}, // Keystone +
    {"Command51", 20, "C8F", false, 250, 200, 245, false}, // Keystone -
    {"Command5", 3, "C3C", true, 0, 0, 0, false},          // up
    {"Command7", 4, "C3D", true, 0, 0, 0, false},          // down
    {"Command9", 5, "C3B", true, 0, 0, 0, false},          // left
    {"Command8", 6, "C3A", true, 0, 0, 0, false},          // right
    {"Command6", 13, "C3F", false, 500, 200, 245, false},  // SELECT
}};

// The code the repeat tick sends for a selector value; empty for 0 or an unknown one.
constexpr std::string_view repeatCodeText(std::uint8_t repeatCode)
{
    for (const RepeatKey &k : kRepeatKeys)
        if (k.repeatCode == repeatCode)
            return k.code;
    return {};
}

// The arrows' intervals come from KeyMode alone, so their rows carry none.
constexpr bool arrowsCarryNoIntervals()
{
    for (const RepeatKey &k : kRepeatKeys)
        if (k.arrow && (k.repeatMs | k.replyWindowMs | k.displayHoldMs) != 0)
            return false;
    return true;
}
static_assert(arrowsCarryNoIntervals(), "an arrow row with intervals of its own");

// Hold intervals of the arrow keys by KeyMode.
inline constexpr int kArrowMenuReplyMs = 150, kArrowMenuHoldMs = 190;   // KeyMode 1
inline constexpr int kArrowZoomReplyMs = 5, kArrowZoomHoldMs = 5;       // KeyMode 3
inline constexpr int kZoomReleaseRepeatMs = 5;
inline constexpr std::uint8_t kKeyModeMenu = 1, kKeyModeZoom = 3;

// Hold intervals every release puts back.
inline constexpr int kDefaultReplyWindowMs = 500, kDefaultDisplayHoldMs = 1000;

} // namespace keys
