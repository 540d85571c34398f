#pragma once
// The window's static layout as data: every control with its name, kind, container,
// caption, twip geometry, colours, font and tab index. One builder (FormBuilder)
// turns it into widgets. No Qt widget types here, so the table can be checked on
// its own.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace layout {

inline constexpr int kTwipsPerPixel = 15;

enum class Kind : std::uint8_t { Button, Label, Frame, Option, TextBox, Image };

// Fonts of the font table; Window is the window's own font (F1).
enum class Font : std::uint8_t { Window, F1, F2, F3, F4, F5, F6, F7, F8, F9 };

namespace Flag {
enum : std::uint8_t {
    None = 0,
    Centre = 1 << 0,         // label text centred
    Right = 1 << 1,          // label text right-aligned
    Border = 1 << 2,         // label with a single border
    StandardStyle = 1 << 3,  // button drawn in the system colours
    PressRelease = 1 << 4,   // auto-repeat key: mouse press and release, no click
    Hidden = 1 << 5,         // hidden at start
    Selected = 1 << 6,       // option selected at start
};
}

inline constexpr std::uint32_t kSystemColour = 0xFF000000u;   // the desktop's colour for the kind
inline constexpr std::uint32_t kDefaultColour = 0xFF000001u;  // the default text colour

struct ControlSpec {
    std::string_view name;
    Kind kind;
    const char *container;  // nullptr: the window
    const char8_t *caption;
    int left, top, width, height;  // twips, relative to the container's client area
    std::uint32_t back;            // 0xRRGGBB or kSystemColour
    std::uint32_t fore;            // 0xRRGGBB or kDefaultColour
    Font font;
    int tab;                       // -1: no tab index
    std::uint8_t flags;
};

struct FontSpec {
    Font key;
    const char8_t *face;
    double pointSize;
    bool bold;
};

struct LineSpec {
    std::string_view name;
    int x1, y1, x2, y2;  // window twips
};

struct TimerSpec {
    std::string_view name;
    int intervalMs;
};

inline constexpr const char8_t *kCaption = u8"ORVA   TK58R   CONTROL   Ver.1.40";
inline constexpr std::uint32_t kWindowBack = 0xC0C0C0;
inline constexpr int kClientWidth = 9495;
inline constexpr int kClientHeight = 8730;
inline constexpr int kDesignOuterHeight = 9100;   // the client height with title bar and borders
inline constexpr int kDesignFrameHeight = kDesignOuterHeight - kClientHeight;

inline constexpr const char8_t *kGothic = u8"ＭＳ ゴシック";
inline constexpr const char8_t *kPGothic = u8"ＭＳ Ｐゴシック";

inline constexpr std::array<FontSpec, 9> kFonts{{
    {Font::F1, kGothic, 9.0, true},
    {Font::F2, kGothic, 9.0, false},
    {Font::F3, kGothic, 8.25, true},
    {Font::F4, kGothic, 9.75, true},
    {Font::F5, kGothic, 9.75, false},
    {Font::F6, kGothic, 8.25, false},
    {Font::F7, kPGothic, 9.0, false},
    {Font::F8, kPGothic, 9.0, true},
    {Font::F9, kPGothic, 9.75, true},
}};

constexpr const FontSpec &fontSpec(Font f)
{
    return kFonts[f == Font::Window ? 0 : std::size_t(f) - 1];
}

inline constexpr std::uint32_t kLineColour = 0x8080FF;
inline constexpr int kLineWidthPx = 2;

inline constexpr std::array<LineSpec, 12> kLines{{
    {"Line1", 1080, 2400, 1080, 2880},
    {"Line2", 2160, 2400, 2160, 2880},
    {"Line3", 3120, 2880, 3120, 3480},
    {"Line4", 2160, 3480, 2160, 3960},
    {"Line5", 1080, 3480, 1080, 3960},
    {"Line6", 120, 2880, 120, 3480},
    {"Line7", 1080, 2400, 2160, 2400},
    {"Line8", 120, 2880, 1080, 2880},
    {"Line9", 2160, 2880, 3120, 2880},
    {"Line10", 120, 3480, 1080, 3480},
    {"Line11", 1080, 3960, 2160, 3960},
    {"Line12", 2160, 3480, 3120, 3480},
}};

inline constexpr std::array<TimerSpec, 5> kTimers{{
    {"Timer1", 200},   // the engine's repeatTimer
    {"Timer2", 500},   // the engine's replyTimer (reply window)
    {"Timer3", 5000},  // closes the port frame
    {"Timer4", 1000},  // the engine's displayHoldTimer
    {"Timer5", 2000},  // never started
}};

extern const std::array<ControlSpec, 119> kControls;

// What the control does, for screen readers and UI automation; nullptr: its caption.
const char *accessibleName(std::string_view control);

} // namespace layout
