#pragma once
// The commands, one row each: the name scripts, MQTT and the bridge give it, the
// window control that sends it (captions repeat, "ON", "RGB", "Video", so controls
// go by name), its code, the hold intervals (reply window / display hold) it sets
// and its side effect, and for the keys that repeat while held, the repeat fields.
// The rows are in the order `orva-ctl list` shows them.

#include <array>
#include <cstdint>
#include <string_view>

namespace keys {

enum class Kind : unsigned char {
    OneShot,  // sent once per click
    Repeat,   // sent at the press and again every repeat interval while held
    Arrow,    // a repeat key whose hold intervals come from KeyMode alone
};

enum class Side : unsigned char {
    None,
    MenuContext,  // a one-shot, after the send: repeat interval 200 ms, KeyMode 1 (A-IMAGE, MENU ON)
    ZoomContext,  // a repeat key, at its release: repeat interval 5 ms, KeyMode 3 (D.Zoom)
};

struct Command {
    std::string_view name;     // power-on ...
    std::string_view control;  // Command17 ...
    std::string_view code;     // C00 ...
    Kind kind;
    // One-shots: set before the send, 0 leaves both as they are. Repeat keys: set
    // right after the first send; arrows carry none.
    int replyWindowMs;
    int displayHoldMs;
    Side side;
    std::uint8_t repeatCode;   // the selector the repeat tick reads; 0 for one-shots
    int repeatMs;              // set at the press; not for arrows, which keep the one there is

    constexpr bool repeats() const { return kind != Kind::OneShot; }
};

constexpr Command once(std::string_view name, std::string_view control, std::string_view code, int replyWindowMs = 0,
                       int displayHoldMs = 0, Side side = Side::None)
{
    return {name, control, code, Kind::OneShot, replyWindowMs, displayHoldMs, side, 0, 0};
}
constexpr Command held(std::string_view name, std::string_view control, std::uint8_t repeatCode, std::string_view code,
                       int repeatMs, int replyWindowMs, int displayHoldMs, Side side = Side::None)
{
    return {name, control, code, Kind::Repeat, replyWindowMs, displayHoldMs, side, repeatCode, repeatMs};
}
constexpr Command arrow(std::string_view name, std::string_view control, std::uint8_t repeatCode, std::string_view code)
{
    return {name, control, code, Kind::Arrow, 0, 0, Side::None, repeatCode, 0};
}

inline constexpr std::array<Command, 69> kCommands{{
    once("power-on", "Command17", "C00"),
    once("power-off", "Command18", "C01"),
    once("input-pc1", "Command27", "C05"),
    once("input-pc2", "Command28", "C06"),
    once("input-video", "Command29", "C07"),
    once("sound-mute-on", "Command19", "C0B"),
    once("sound-mute-off", "Command20", "C0C"),
    once("no-show-on", "Command21", "C0D"),
    once("no-show-off", "Command22", "C0E"),
    once("freeze-on", "Command25", "C43"),
    once("freeze-off", "Command26", "C44"),
    once("menu-on", "Command23", "C1C", 0, 0, Side::MenuContext),
    once("menu-off", "Command24", "C1D"),
    once("av-size-regular", "Command31", "C0F"),
    once("av-size-wide", "Command32", "C10"),
    arrow("cursor-up", "Command5", 3, "C3C"),
    arrow("cursor-down", "Command7", 4, "C3D"),
    arrow("cursor-left", "Command9", 5, "C3B"),
    arrow("cursor-right", "Command8", 6, "C3A"),
    held("select", "Command6", 13, "C3F", 500, 200, 245),
    held("volume-up", "Command1", 1, "C09", 250, 200, 245),
    held("volume-down", "Command2", 2, "C0A", 250, 200, 245),
    held("brightness-up", "Command15", 7, "C20", 50, 25, 25),
    held("brightness-down", "Command35", 8, "C21", 50, 25, 25),
    held("digital-zoom-up", "Command48", 17, "C30", 250, 200, 245, Side::ZoomContext),
    held("digital-zoom-down", "Command49", 18, "C31", 250, 200, 245, Side::ZoomContext),
    held("keystone-up", "Command50", 19, "C8E", 250, 200, 245),
    held("keystone-down", "Command51", 20, "C8F", 250, 200, 245),
    once("key-lock-none", "Command56", "CF KEYDIS NONE"),
    once("key-lock-rc", "Command57", "CF KEYDIS RC"),
    once("key-lock-key", "Command58", "CF KEYDIS KEY"),
    once("picture-mode-stand", "Command4", "C11", 2000, 2500),
    once("picture-mode-real", "Command10", "C12", 2000, 2500),
    once("picture-mode-cinema", "Command11", "C13", 2000, 2500),
    once("picture-mode-image1", "Command39", "C14", 2000, 2500),
    once("picture-mode-image2", "Command40", "C15", 2000, 2500),
    once("picture-mode-image3", "Command41", "C16", 2000, 2500),
    once("picture-mode-image4", "Command42", "C17", 2000, 2500),
    once("picture-mode-bboard", "Command12", "C18", 2000, 2500),
    once("picture-mode-dynamic", "Command36", "C19", 2000, 2500),
    once("input-signal-wired", "Command37", "C81"),
    once("input-signal-wireless", "Command38", "C82"),
    once("input-signal-viewer", "Command43", "C83"),
    once("status", "Command44", "CR0"),
    once("mode", "Command45", "CR1"),
    once("lamp-time", "Command46", "CR3"),
    once("setting", "Command47", "CR4"),
    once("temperature", "Command54", "CR6"),
    once("pc1-rgb", "Command64", "C50", 5000, 5500),
    once("pc1-dvi-digital", "Command65", "C52", 5000, 5500),
    once("pc1-dvi-hdcp", "Command66", "C53", 5000, 5500),
    once("pc2-rgb", "Command72", "C25", 5000, 5500),
    once("pc2-component", "Command74", "C24", 5000, 5500),
    once("pc2-scart", "Command73", "C26", 5000, 5500),
    once("terminal-in", "Command53", "CF TERMINAL COMPUTER", 5000, 5500),
    once("terminal-out", "Command76", "CF TERMINAL MONITOR", 5000, 5500),
    once("video-auto", "Command81", "C32", 5000, 5500),
    once("video-video", "Command82", "C33", 5000, 5500),
    once("video-s-video", "Command69", "C34", 5000, 5500),
    once("fan-speed-max", "Command97", "CF FANSPEED MAX"),
    once("fan-speed-normal", "Command98", "CF FANSPEED NOR"),
    once("logo-capture", "Command60", "CF LOGOCAPTURE START"),
    once("logo-off", "Command61", "CF LOGO OFF"),
    once("logo-default", "Command63", "CF LOGO DEFAULT"),
    once("logo-user", "Command67", "CF LOGO USER"),
    once("a-image", "Command13", "C89", 0, 0, Side::MenuContext),
    once("image", "Command30", "C27"),
    once("p-timer", "Command14", "C8A"),
    once("display-clear", "Command3", "C1E"),
}};

// The row of a command by its name, or by the control that sends it; nullptr when
// there is none.
constexpr const Command *findCommand(std::string_view name)
{
    for (const Command &c : kCommands)
        if (c.name == name)
            return &c;
    return nullptr;
}
constexpr const Command *findByControl(std::string_view control)
{
    for (const Command &c : kCommands)
        if (c.control == control)
            return &c;
    return nullptr;
}

// The code the repeat tick sends for a selector value; empty for 0 or an unknown one.
constexpr std::string_view repeatCodeText(std::uint8_t repeatCode)
{
    for (const Command &c : kCommands)
        if (c.repeats() && c.repeatCode == repeatCode)
            return c.code;
    return {};
}

// Every row named, with a control and a code, none named or sent by a control
// twice; the repeat selectors unique and the one-shots' 0; a one-shot sets both
// hold intervals or neither, an arrow none of its own; each side effect on its
// kind of row. Rows are compared by value, not by address: an address is no
// constant expression in a sanitizer build.
constexpr bool rowsAgree()
{
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        const Command &c = kCommands[i];
        if (c.name.empty() || c.control.empty() || c.code.empty())
            return false;
        for (std::size_t j = i + 1; j < kCommands.size(); ++j)
            if (kCommands[j].name == c.name || kCommands[j].control == c.control
                || (c.repeats() && kCommands[j].repeats() && kCommands[j].repeatCode == c.repeatCode))
                return false;
        if (c.repeats() == (c.repeatCode == 0))
            return false;
        if (c.kind == Kind::OneShot && (c.replyWindowMs == 0) != (c.displayHoldMs == 0))
            return false;
        if (c.kind == Kind::Arrow && (c.repeatMs | c.replyWindowMs | c.displayHoldMs) != 0)
            return false;
        if (c.kind == Kind::Repeat && (c.repeatMs == 0 || c.replyWindowMs == 0 || c.displayHoldMs == 0))
            return false;
        if ((c.side == Side::MenuContext && c.kind != Kind::OneShot) || (c.side == Side::ZoomContext && c.kind != Kind::Repeat))
            return false;
    }
    return true;
}
static_assert(rowsAgree(), "a command row unnamed, named twice, or with fields its kind does not take");

inline constexpr int kMenuRepeatIntervalMs = 200;

// Manual entry (SEND) hold intervals.
inline constexpr int kManualReplyWindowMs = 2000;
inline constexpr int kManualDisplayHoldMs = 2500;

// Hold intervals of the arrow keys by KeyMode.
inline constexpr int kArrowMenuReplyMs = 150, kArrowMenuHoldMs = 190;   // KeyMode 1
inline constexpr int kArrowZoomReplyMs = 5, kArrowZoomHoldMs = 5;       // KeyMode 3
inline constexpr int kZoomReleaseRepeatMs = 5;
inline constexpr std::uint8_t kKeyModeMenu = 1, kKeyModeZoom = 3;

// Hold intervals every release puts back.
inline constexpr int kDefaultReplyWindowMs = 500, kDefaultDisplayHoldMs = 1000;

} // namespace keys
