#pragma once
// The one-shot buttons: which control sends which command code, the hold intervals
// (reply window / display hold) it sets first, and its side effect. Captions
// repeat ("ON", "RGB", "Video"), so buttons are always found by control name.

#include <array>
#include <string_view>

namespace keys {

enum class Side : unsigned char {
    None,
    MenuContext,  // after the send: repeat interval 200 ms, KeyMode 1 (A-IMAGE, MENU ON)
};

struct OneShot {
    std::string_view control;
    std::string_view code;
    int replyWindowMs;   // 0: leaves both hold intervals as they are
    int displayHoldMs;
    Side side;
};

inline constexpr std::array<OneShot, 56> kOneShots{{
    {"Command17", "C00", 0, 0, Side::None},
    {"Command18", "C01", 0, 0, Side::None},
    {"Command27", "C05", 0, 0, Side::None},
    {"Command28", "C06", 0, 0, Side::None},
    {"Command29", "C07", 0, 0, Side::None},
    {"Command19", "C0B", 0, 0, Side::None},
    {"Command20", "C0C", 0, 0, Side::None},
    {"Command21", "C0D", 0, 0, Side::None},
    {"Command22", "C0E", 0, 0, Side::None},
    {"Command31", "C0F", 0, 0, Side::None},
    {"Command32", "C10", 0, 0, Side::None},
    {"Command23", "C1C", 0, 0, Side::MenuContext},
    {"Command24", "C1D", 0, 0, Side::None},
    {"Command25", "C43", 0, 0, Side::None},
    {"Command26", "C44", 0, 0, Side::None},
    {"Command13", "C89", 0, 0, Side::MenuContext},
    {"Command30", "C27", 0, 0, Side::None},
    {"Command14", "C8A", 0, 0, Side::None},
    {"Command3", "C1E", 0, 0, Side::None},
    {"Command4", "C11", 2000, 2500, Side::None},
    {"Command10", "C12", 2000, 2500, Side::None},
    {"Command11", "C13", 2000, 2500, Side::None},
    {"Command39", "C14", 2000, 2500, Side::None},
    {"Command40", "C15", 2000, 2500, Side::None},
    {"Command41", "C16", 2000, 2500, Side::None},
    {"Command42", "C17", 2000, 2500, Side::None},
    {"Command12", "C18", 2000, 2500, Side::None},
    {"Command36", "C19", 2000, 2500, Side::None},
    {"Command56", "CF KEYDIS NONE", 0, 0, Side::None},
    {"Command57", "CF KEYDIS RC", 0, 0, Side::None},
    {"Command58", "CF KEYDIS KEY", 0, 0, Side::None},
    {"Command44", "CR0", 0, 0, Side::None},
    {"Command45", "CR1", 0, 0, Side::None},
    {"Command46", "CR3", 0, 0, Side::None},
    {"Command47", "CR4", 0, 0, Side::None},
    {"Command54", "CR6", 0, 0, Side::None},
    {"Command64", "C50", 5000, 5500, Side::None},
    {"Command65", "C52", 5000, 5500, Side::None},
    {"Command66", "C53", 5000, 5500, Side::None},
    {"Command72", "C25", 5000, 5500, Side::None},
    {"Command74", "C24", 5000, 5500, Side::None},
    {"Command73", "C26", 5000, 5500, Side::None},
    {"Command53", "CF TERMINAL COMPUTER", 5000, 5500, Side::None},
    {"Command76", "CF TERMINAL MONITOR", 5000, 5500, Side::None},
    {"Command81", "C32", 5000, 5500, Side::None},
    {"Command82", "C33", 5000, 5500, Side::None},
    {"Command69", "C34", 5000, 5500, Side::None},
    {"Command37", "C81", 0, 0, Side::None},
    {"Command38", "C82", 0, 0, Side::None},
    {"Command43", "C83", 0, 0, Side::None},
    {"Command97", "CF FANSPEED MAX", 0, 0, Side::None},
    {"Command98", "CF FANSPEED NOR", 0, 0, Side::None},
    {"Command60", "CF LOGOCAPTURE START", 0, 0, Side::None},
    {"Command61", "CF LOGO OFF", 0, 0, Side::None},
    {"Command63", "CF LOGO DEFAULT", 0, 0, Side::None},
    {"Command67", "CF LOGO USER", 0, 0, Side::None},
}};

// A row either sets both hold intervals or leaves both as they are.
constexpr bool holdIntervalsPaired()
{
    for (const OneShot &b : kOneShots)
        if ((b.replyWindowMs == 0) != (b.displayHoldMs == 0))
            return false;
    return true;
}
static_assert(holdIntervalsPaired(), "a one-shot row with a display hold but no reply window (or the reverse)");

// The row of a button, by control name; nullptr when it is none.
constexpr const OneShot *findOneShot(std::string_view control)
{
    for (const OneShot &b : kOneShots)
        if (b.control == control)
            return &b;
    return nullptr;
}

inline constexpr int kMenuRepeatIntervalMs = 200;

// Manual entry (SEND) hold intervals.
inline constexpr int kManualReplyWindowMs = 2000;
inline constexpr int kManualDisplayHoldMs = 2500;

} // namespace keys
