#pragma once
// What each control does, in words: the name screen readers and UI automation
// announce, and for the controls that send a command, the name a script uses for
// it on the command line (orva-ctl). A control not listed here is named by its
// caption.

#include <string_view>

namespace keys {

struct ControlName {
    std::string_view control;
    std::string_view spoken;    // accessible name; empty: the caption says it
    std::string_view command;   // command-line name; empty for controls that send nothing
};

inline constexpr ControlName kControlNames[] = {
    {"Command17", "POWER ON", "power-on"},
    {"Command18", "POWER OFF", "power-off"},
    {"Command27", "Input PC1", "input-pc1"},
    {"Command28", "Input PC2", "input-pc2"},
    {"Command29", "Input Video", "input-video"},
    {"Command19", "SOUND MUTE ON", "sound-mute-on"},
    {"Command20", "SOUND MUTE OFF", "sound-mute-off"},
    {"Command21", "NO SHOW ON", "no-show-on"},
    {"Command22", "NO SHOW OFF", "no-show-off"},
    {"Command25", "FREEZE ON", "freeze-on"},
    {"Command26", "FREEZE OFF", "freeze-off"},
    {"Command23", "MENU ON", "menu-on"},
    {"Command24", "MENU OFF", "menu-off"},
    {"Command31", "AV Size Regular", "av-size-regular"},
    {"Command32", "AV Size Wide", "av-size-wide"},
    {"Command5", "Cursor up", "cursor-up"},
    {"Command7", "Cursor down", "cursor-down"},
    {"Command9", "Cursor left", "cursor-left"},
    {"Command8", "Cursor right", "cursor-right"},
    {"Command6", "SELECT", "select"},
    {"Command1", "VOL +", "volume-up"},
    {"Command2", "VOL -", "volume-down"},
    {"Command15", "Brightness +", "brightness-up"},
    {"Command35", "Brightness -", "brightness-down"},
    {"Command48", "D.Zoom +", "digital-zoom-up"},
    {"Command49", "D.Zoom -", "digital-zoom-down"},
    {"Command50", "Keystone +", "keystone-up"},
    {"Command51", "Keystone -", "keystone-down"},
    {"Command56", "Key lock NONE", "key-lock-none"},
    {"Command57", "Key lock R/C", "key-lock-rc"},
    {"Command58", "Key lock KEY", "key-lock-key"},
    {"Command4", "Picture mode STAND", "picture-mode-stand"},
    {"Command10", "Picture mode REAL", "picture-mode-real"},
    {"Command11", "Picture mode CINEMA", "picture-mode-cinema"},
    {"Command39", "Picture mode IMAGE1", "picture-mode-image1"},
    {"Command40", "Picture mode IMAGE2", "picture-mode-image2"},
    {"Command41", "Picture mode IMAGE3", "picture-mode-image3"},
    {"Command42", "Picture mode IMAGE4", "picture-mode-image4"},
    {"Command12", "Picture mode B.Board", "picture-mode-bboard"},
    {"Command36", "Picture mode Dynamic", "picture-mode-dynamic"},
    {"Command37", "Input signal WIRED", "input-signal-wired"},
    {"Command38", "Input signal WIRELESS", "input-signal-wireless"},
    {"Command43", "Input signal VIEWER", "input-signal-viewer"},
    {"Command44", "STATUS query", "status"},
    {"Command45", "MODE query", "mode"},
    {"Command46", "L-TIME query", "lamp-time"},
    {"Command47", "SETTING query", "setting"},
    {"Command54", "TEMP query", "temperature"},
    {"Command64", "PC1 RGB", "pc1-rgb"},
    {"Command65", "PC1 DVI (PC Digital)", "pc1-dvi-digital"},
    {"Command66", "PC1 DVI (AV HDCP)", "pc1-dvi-hdcp"},
    {"Command72", "PC2 RGB", "pc2-rgb"},
    {"Command74", "PC2 Component", "pc2-component"},
    {"Command73", "PC2 Scart", "pc2-scart"},
    {"Command53", "Terminal IN (computer)", "terminal-in"},
    {"Command76", "Terminal OUT (monitor)", "terminal-out"},
    {"Command81", "Video Auto", "video-auto"},
    {"Command82", "Video Video", "video-video"},
    {"Command69", "Video S-Video", "video-s-video"},
    {"Command97", "FAN SPEED MAX", "fan-speed-max"},
    {"Command98", "FAN SPEED NOR", "fan-speed-normal"},
    {"Command60", "Logo capture", "logo-capture"},
    {"Command61", "Logo OFF", "logo-off"},
    {"Command63", "Logo default", "logo-default"},
    {"Command67", "Logo user", "logo-user"},
    {"Command13", "", "a-image"},
    {"Command30", "", "image"},
    {"Command14", "", "p-timer"},
    {"Command3", "", "display-clear"},
    {"Command95", "SEND command", ""},
    {"Command96", "Clear command", ""},
    {"Command33", "COM port settings", ""},
    {"Command34", "Data area", ""},
    {"Option1", "COM1", ""},
    {"Option2", "COM2", ""},
    {"Option9", "19200 baud", ""},
    {"Option10", "9600 baud", ""},
    {"Label11", "TXD", ""},
    {"Label12", "RXD", ""},
    {"Label22", "Status", ""},
    {"Label9", "TXD caption", ""},
    {"Label10", "RXD caption", ""},
    {"Label23", "Status caption", ""},
    {"Text1", "Command", ""},
    {"Image1", "ORVA word mark", ""},
    {"Frame1", "POWER", ""},
    {"Frame2", "INPUT MODE SET", ""},
    {"Frame10", "INPUT SIGNAL", ""},
    {"Frame3", "SOUND MUTE", ""},
    {"Frame4", "NO SHOW", ""},
    {"Frame7", "FREEZE", ""},
    {"Frame6", "MENU", ""},
    {"Frame5", "AV Size", ""},
    {"Frame8", "COM port settings", ""},
    {"Frame13", "Speed", ""},
    {"Frame9", "Data", ""},
    {"Frame14", "Source selection", ""},
    {"Frame16", "FAN SPEED", ""},
    {"Frame11", "Logo", ""},
    {"Frame15", "Command line", ""},
};

// The row of a control, or of a command-line name; nullptr when there is none.
constexpr const ControlName *findByControl(std::string_view control)
{
    for (const ControlName &row : kControlNames)
        if (row.control == control)
            return &row;
    return nullptr;
}

constexpr const ControlName *findByCommand(std::string_view command)
{
    if (command.empty())
        return nullptr;
    for (const ControlName &row : kControlNames)
        if (row.command == command)
            return &row;
    return nullptr;
}

} // namespace keys
