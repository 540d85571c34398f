#pragma once
// The one-shot buttons as they must behave, written out by hand (independently of
// the key tables): the code each sends, the hold intervals it leaves (500/1000 when
// it sets none), and whether it switches the arrows to menu context.

struct OneShotRow {
    const char *control;
    const char *code;
    int replyWindowMs = 500;
    int displayHoldMs = 1000;
    bool menuContext = false;
};

constexpr OneShotRow kExpectedOneShots[] = {
    {"Command17", "C00"}, {"Command18", "C01"}, {"Command27", "C05"}, {"Command28", "C06"},
    {"Command29", "C07"}, {"Command19", "C0B"}, {"Command20", "C0C"}, {"Command21", "C0D"},
    {"Command22", "C0E"}, {"Command31", "C0F"}, {"Command32", "C10"}, {"Command23", "C1C", 500, 1000, true},
    {"Command24", "C1D"}, {"Command25", "C43"}, {"Command26", "C44"}, {"Command13", "C89", 500, 1000, true},
    {"Command30", "C27"}, {"Command14", "C8A"}, {"Command3", "C1E"},
    {"Command4", "C11", 2000, 2500}, {"Command10", "C12", 2000, 2500}, {"Command11", "C13", 2000, 2500},
    {"Command39", "C14", 2000, 2500}, {"Command40", "C15", 2000, 2500}, {"Command41", "C16", 2000, 2500},
    {"Command42", "C17", 2000, 2500}, {"Command12", "C18", 2000, 2500}, {"Command36", "C19", 2000, 2500},
    {"Command56", "CF KEYDIS NONE"}, {"Command57", "CF KEYDIS RC"}, {"Command58", "CF KEYDIS KEY"},
    {"Command44", "CR0"}, {"Command45", "CR1"}, {"Command46", "CR3"}, {"Command47", "CR4"}, {"Command54", "CR6"},
    {"Command64", "C50", 5000, 5500}, {"Command65", "C52", 5000, 5500}, {"Command66", "C53", 5000, 5500},
    {"Command72", "C25", 5000, 5500}, {"Command74", "C24", 5000, 5500}, {"Command73", "C26", 5000, 5500},
    {"Command53", "CF TERMINAL COMPUTER", 5000, 5500}, {"Command76", "CF TERMINAL MONITOR", 5000, 5500},
    {"Command81", "C32", 5000, 5500}, {"Command82", "C33", 5000, 5500}, {"Command69", "C34", 5000, 5500},
    {"Command37", "C81"}, {"Command38", "C82"}, {"Command43", "C83"},
    {"Command97", "CF FANSPEED MAX"}, {"Command98", "CF FANSPEED NOR"}, {"Command60", "CF LOGOCAPTURE START"},
    {"Command61", "CF LOGO OFF"}, {"Command63", "CF LOGO DEFAULT"}, {"Command67", "CF LOGO USER"},
};
