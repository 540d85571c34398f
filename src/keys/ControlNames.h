#pragma once
// What each control does, in words: the name screen readers and UI automation
// announce. A control not listed here is named by its caption (the commands'
// own names are in CommandTable.h).

#include <string_view>

namespace keys {

struct ControlName {
    std::string_view control;
    std::string_view spoken;    // accessible name
};

inline constexpr ControlName kControlNames[] = {
    {"Command17", "POWER ON"},
    {"Command18", "POWER OFF"},
    {"Command27", "Input PC1"},
    {"Command28", "Input PC2"},
    {"Command29", "Input Video"},
    {"Command19", "SOUND MUTE ON"},
    {"Command20", "SOUND MUTE OFF"},
    {"Command21", "NO SHOW ON"},
    {"Command22", "NO SHOW OFF"},
    {"Command25", "FREEZE ON"},
    {"Command26", "FREEZE OFF"},
    {"Command23", "MENU ON"},
    {"Command24", "MENU OFF"},
    {"Command31", "AV Size Regular"},
    {"Command32", "AV Size Wide"},
    {"Command5", "Cursor up"},
    {"Command7", "Cursor down"},
    {"Command9", "Cursor left"},
    {"Command8", "Cursor right"},
    {"Command6", "SELECT"},
    {"Command1", "VOL +"},
    {"Command2", "VOL -"},
    {"Command15", "Brightness +"},
    {"Command35", "Brightness -"},
    {"Command48", "D.Zoom +"},
    {"Command49", "D.Zoom -"},
    {"Command50", "Keystone +"},
    {"Command51", "Keystone -"},
    {"Command56", "Key lock NONE"},
    {"Command57", "Key lock R/C"},
    {"Command58", "Key lock KEY"},
    {"Command4", "Picture mode STAND"},
    {"Command10", "Picture mode REAL"},
    {"Command11", "Picture mode CINEMA"},
    {"Command39", "Picture mode IMAGE1"},
    {"Command40", "Picture mode IMAGE2"},
    {"Command41", "Picture mode IMAGE3"},
    {"Command42", "Picture mode IMAGE4"},
    {"Command12", "Picture mode B.Board"},
    {"Command36", "Picture mode Dynamic"},
    {"Command37", "Input signal WIRED"},
    {"Command38", "Input signal WIRELESS"},
    {"Command43", "Input signal VIEWER"},
    {"Command44", "STATUS query"},
    {"Command45", "MODE query"},
    {"Command46", "L-TIME query"},
    {"Command47", "SETTING query"},
    {"Command54", "TEMP query"},
    {"Command64", "PC1 RGB"},
    {"Command65", "PC1 DVI (PC Digital)"},
    {"Command66", "PC1 DVI (AV HDCP)"},
    {"Command72", "PC2 RGB"},
    {"Command74", "PC2 Component"},
    {"Command73", "PC2 Scart"},
    {"Command53", "Terminal IN (computer)"},
    {"Command76", "Terminal OUT (monitor)"},
    {"Command81", "Video Auto"},
    {"Command82", "Video Video"},
    {"Command69", "Video S-Video"},
    {"Command97", "FAN SPEED MAX"},
    {"Command98", "FAN SPEED NOR"},
    {"Command60", "Logo capture"},
    {"Command61", "Logo OFF"},
    {"Command63", "Logo default"},
    {"Command67", "Logo user"},
    {"Command95", "SEND command"},
    {"Command96", "Clear command"},
    {"Command33", "COM port settings"},
    {"Command34", "Data area"},
    {"Option1", "COM1"},
    {"Option2", "COM2"},
    {"Option9", "19200 baud"},
    {"Option10", "9600 baud"},
    {"Label11", "TXD"},
    {"Label12", "RXD"},
    {"Label22", "Status"},
    {"Label9", "TXD caption"},
    {"Label10", "RXD caption"},
    {"Label23", "Status caption"},
    {"Text1", "Command"},
    {"Image1", "ORVA word mark"},
    {"Frame1", "POWER"},
    {"Frame2", "INPUT MODE SET"},
    {"Frame10", "INPUT SIGNAL"},
    {"Frame3", "SOUND MUTE"},
    {"Frame4", "NO SHOW"},
    {"Frame7", "FREEZE"},
    {"Frame6", "MENU"},
    {"Frame5", "AV Size"},
    {"Frame8", "COM port settings"},
    {"Frame13", "Speed"},
    {"Frame9", "Data"},
    {"Frame14", "Source selection"},
    {"Frame16", "FAN SPEED"},
    {"Frame11", "Logo"},
    {"Frame15", "Command line"},
};

// The row of a control; nullptr when there is none.
constexpr const ControlName *spokenName(std::string_view control)
{
    for (const ControlName &row : kControlNames)
        if (row.control == control)
            return &row;
    return nullptr;
}

} // namespace keys
