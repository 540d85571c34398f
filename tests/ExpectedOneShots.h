#pragma once
// The one-shot commands as they must behave, written out by hand (independently of
// the command table): each one's name and control, the code it sends, the hold intervals it leaves (500/1000 when
// it sets none), and whether it switches the arrows to menu context.

struct OneShotRow {
    const char *name;
    const char *control;
    const char *code;
    int replyWindowMs = 500;
    int displayHoldMs = 1000;
    bool menuContext = false;
};

constexpr OneShotRow kExpectedOneShots[] = {
    {"power-on", "Command17", "C00"}, {"power-off", "Command18", "C01"}, {"input-pc1", "Command27", "C05"},
    {"input-pc2", "Command28", "C06"}, {"input-video", "Command29", "C07"}, {"sound-mute-on", "Command19", "C0B"},
    {"sound-mute-off", "Command20", "C0C"}, {"no-show-on", "Command21", "C0D"}, {"no-show-off", "Command22", "C0E"},
    {"av-size-regular", "Command31", "C0F"}, {"av-size-wide", "Command32", "C10"},
    {"menu-on", "Command23", "C1C", 500, 1000, true}, {"menu-off", "Command24", "C1D"},
    {"freeze-on", "Command25", "C43"}, {"freeze-off", "Command26", "C44"},
    {"a-image", "Command13", "C89", 500, 1000, true}, {"image", "Command30", "C27"}, {"p-timer", "Command14", "C8A"},
    {"display-clear", "Command3", "C1E"}, {"picture-mode-stand", "Command4", "C11", 2000, 2500},
    {"picture-mode-real", "Command10", "C12", 2000, 2500}, {"picture-mode-cinema", "Command11", "C13", 2000, 2500},
    {"picture-mode-image1", "Command39", "C14", 2000, 2500}, {"picture-mode-image2", "Command40", "C15", 2000, 2500},
    {"picture-mode-image3", "Command41", "C16", 2000, 2500}, {"picture-mode-image4", "Command42", "C17", 2000, 2500},
    {"picture-mode-bboard", "Command12", "C18", 2000, 2500}, {"picture-mode-dynamic", "Command36", "C19", 2000, 2500},
    {"key-lock-none", "Command56", "CF KEYDIS NONE"}, {"key-lock-rc", "Command57", "CF KEYDIS RC"},
    {"key-lock-key", "Command58", "CF KEYDIS KEY"}, {"status", "Command44", "CR0"}, {"mode", "Command45", "CR1"},
    {"lamp-time", "Command46", "CR3"}, {"setting", "Command47", "CR4"}, {"temperature", "Command54", "CR6"},
    {"pc1-rgb", "Command64", "C50", 5000, 5500}, {"pc1-dvi-digital", "Command65", "C52", 5000, 5500},
    {"pc1-dvi-hdcp", "Command66", "C53", 5000, 5500}, {"pc2-rgb", "Command72", "C25", 5000, 5500},
    {"pc2-component", "Command74", "C24", 5000, 5500}, {"pc2-scart", "Command73", "C26", 5000, 5500},
    {"terminal-in", "Command53", "CF TERMINAL COMPUTER", 5000, 5500},
    {"terminal-out", "Command76", "CF TERMINAL MONITOR", 5000, 5500}, {"video-auto", "Command81", "C32", 5000, 5500},
    {"video-video", "Command82", "C33", 5000, 5500}, {"video-s-video", "Command69", "C34", 5000, 5500},
    {"input-signal-wired", "Command37", "C81"}, {"input-signal-wireless", "Command38", "C82"},
    {"input-signal-viewer", "Command43", "C83"}, {"fan-speed-max", "Command97", "CF FANSPEED MAX"},
    {"fan-speed-normal", "Command98", "CF FANSPEED NOR"}, {"logo-capture", "Command60", "CF LOGOCAPTURE START"},
    {"logo-off", "Command61", "CF LOGO OFF"}, {"logo-default", "Command63", "CF LOGO DEFAULT"},
    {"logo-user", "Command67", "CF LOGO USER"},
};
