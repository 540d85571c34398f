// orva-sim: the states the projector can be put in from outside, for the
// replies the power cycle and the commands never give.
#include "Projector.h"

namespace orvasim {

namespace {

// What a state changes, and the code it puts into the reply.
enum class StateKind { PowerCycle, PowerStatus, Input, Signal, Reversal, LampMode };

struct StateRow
{
    StateInfo info;
    StateKind kind;
    std::string_view code;
};

const StateRow kStates[] = {
    // The power cycle itself (CR0), as if the time had passed.
    {{"standby", "power status 80, Stand by"}, StateKind::PowerCycle, "80"},
    {{"count-down", "power status 40, warming up (--countdown-ms from now)"}, StateKind::PowerCycle, "40"},
    {{"on", "power status 00, Power ON"}, StateKind::PowerCycle, "00"},
    {{"cooling-down", "power status 20 (--cooldown-ms from now)"}, StateKind::PowerCycle, "20"},
    // Faults and warnings: CR0 answers these until power-normal or a state above.
    {{"power-fail", "power status 10, Power Fail"}, StateKind::PowerStatus, "10"},
    {{"temperature-warning", "power status 08, Temperature Warning"}, StateKind::PowerStatus, "08"},
    {{"no-key-input", "power status 02, NO Key input"}, StateKind::PowerStatus, "02"},
    {{"pwr-management", "power status 04, Lamp OFF by PWR Management"}, StateKind::PowerStatus, "04"},
    {{"temperature-warning-cooling", "power status 28, Temperature Warning & cooling down"},
     StateKind::PowerStatus, "28"},
    {{"pwr-management-cooling", "power status 24, Cooling down PWR Management"}, StateKind::PowerStatus, "24"},
    {{"temperature-recovered", "power status 88, Temperature Warning and recovered"},
     StateKind::PowerStatus, "88"},
    {{"lamp-fail-cooling", "power status 21, Cooling down (All Lamp FAIL)"}, StateKind::PowerStatus, "21"},
    {{"lamp-fail-standby", "power status 81, Cooling down & standby (All Lamp FAIL)"},
     StateKind::PowerStatus, "81"},
    {{"power-normal", "power status from the power cycle again"}, StateKind::PowerStatus, ""},
    // Input (CR1): 1..3 follow the input commands; 4 has no command.
    {{"input-4", "input 4, Input mode 4"}, StateKind::Input, "4"},
    // Signal (CRA): while powered, no signal replaces the mute status.
    {{"no-signal", "mute status 80, No signal (while not in standby)"}, StateKind::Signal, "80"},
    {{"signal", "mute status from the mute commands again"}, StateKind::Signal, ""},
    // Reversal (CR4).
    {{"reversal-none", "reversal 11, Normally (the default)"}, StateKind::Reversal, "11"},
    {{"reversal-top-bottom", "reversal 10, Top/Bottom reversal"}, StateKind::Reversal, "10"},
    {{"reversal-left-right", "reversal 01, Left/Right reversal"}, StateKind::Reversal, "01"},
    {{"reversal-both", "reversal 00, Top/Bottom and Left/Right reversal"}, StateKind::Reversal, "00"},
    // Lamp mode (CR7).
    {{"lamps-2-all-off", "lamp mode 00, all off, 2 lamp mode"}, StateKind::LampMode, "00"},
    {{"lamps-2-no1-on", "lamp mode 01, No1 on, 2 lamp mode"}, StateKind::LampMode, "01"},
    {{"lamps-2-no2-on", "lamp mode 02, No2 on, 2 lamp mode"}, StateKind::LampMode, "02"},
    {{"lamps-2-both-on", "lamp mode 03, No1,2 on, 2 lamp mode (the default)"}, StateKind::LampMode, "03"},
    {{"lamp-1-off", "lamp mode 10, all off, 1 lamp mode using No1"}, StateKind::LampMode, "10"},
    {{"lamp-1-on", "lamp mode 11, No1 on, 1 lamp mode using No1"}, StateKind::LampMode, "11"},
    {{"lamp-2-off", "lamp mode 20, all off, 1 lamp mode using No2"}, StateKind::LampMode, "20"},
    {{"lamp-2-on", "lamp mode 22, No2 on, 1 lamp mode using No2"}, StateKind::LampMode, "22"},
};

const StateRow *findState(std::string_view name)
{
    for (const StateRow &row : kStates) {
        if (row.info.name == name)
            return &row;
    }
    return nullptr;
}

} // namespace

const std::vector<StateInfo> &Projector::states()
{
    static const std::vector<StateInfo> infos = [] {
        std::vector<StateInfo> v;
        for (const StateRow &row : kStates)
            v.push_back(row.info);
        return v;
    }();
    return infos;
}

bool Projector::isState(std::string_view name)
{
    return findState(name) != nullptr;
}

bool Projector::setState(std::string_view name, int64_t nowMs)
{
    const StateRow *row = findState(name);
    if (!row)
        return false;
    switch (row->kind) {
    case StateKind::PowerCycle:
        m_powerOverride.reset();
        if (row->code == "80") {
            m_power = Power::Standby;
            m_videoMute = m_audioMute = false;
        } else if (row->code == "40") {
            m_power = Power::CountDown;
            m_transitionAt = nowMs + m_config.countdownMs;
        } else if (row->code == "00") {
            m_power = Power::On;
        } else {
            m_power = Power::CoolDown;
            m_transitionAt = nowMs + m_config.cooldownMs;
        }
        break;
    case StateKind::PowerStatus:
        if (row->code.empty())
            m_powerOverride.reset();
        else
            m_powerOverride = std::string(row->code);
        break;
    case StateKind::Input:
        m_input = row->code[0] - '0';
        break;
    case StateKind::Signal:
        m_noSignal = !row->code.empty();
        break;
    case StateKind::Reversal:
        m_reversal = std::string(row->code);
        break;
    case StateKind::LampMode:
        m_lampMode = std::string(row->code);
        break;
    }
    return true;
}

} // namespace orvasim
