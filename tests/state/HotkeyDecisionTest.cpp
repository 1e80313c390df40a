// The matching rule of the push-to-talk hotkey, one row per situation it tells apart.
#include <gtest/gtest.h>

#include "state/HotkeyDecision.h"

namespace quenda {
namespace {

using Report = HotkeyDecision::Report;

constexpr uint64_t shift = Hotkey::shiftFlag;
constexpr uint64_t control = Hotkey::controlFlag;
constexpr uint64_t option = Hotkey::optionFlag;
constexpr uint64_t command = Hotkey::commandFlag;
constexpr uint64_t capsLock = 0x10000;
constexpr uint64_t numericPad = 0x200000;
constexpr uint64_t function = 0x800000;

struct Row {
    const char* name;
    KeyEventType type;
    int64_t keyCode;
    uint64_t flags;
    bool pressed;
    HotkeyDecision expected;  // {drop, report, pressed after, re-enable}
};

const HotkeyDecision passUp{false, Report::none, false, false};
const HotkeyDecision passDown{false, Report::none, true, false};

const Row rows[] = {
    {"press",
     KeyEventType::keyDown,
     2,
     option | command,
     false,
     {true, Report::press, true, false}},
    {"auto-repeat is swallowed",
     KeyEventType::keyDown,
     2,
     option | command,
     true,
     {true, Report::none, true, false}},
    {"caps lock, num lock and fn do not matter",
     KeyEventType::keyDown,
     2,
     option | command | capsLock | numericPad | function,
     false,
     {true, Report::press, true, false}},
    {"an extra shift", KeyEventType::keyDown, 2, option | command | shift, false, passUp},
    {"an extra control", KeyEventType::keyDown, 2, option | command | control, false, passUp},
    {"option missing", KeyEventType::keyDown, 2, command, false, passUp},
    {"D alone", KeyEventType::keyDown, 2, 0, false, passUp},
    {"D alone while held", KeyEventType::keyDown, 2, 0, true, passDown},
    {"another key with the modifiers", KeyEventType::keyDown, 9, option | command, false, passUp},
    {"another key while held", KeyEventType::keyDown, 14, option | command, true, passDown},
    {"a code beyond 16 bits that equals 2 in its low bits", KeyEventType::keyDown, 0x10002,
     option | command, false, passUp},
    {"a key without a code", KeyEventType::keyDown, -1, option | command, false, passUp},
    {"release",
     KeyEventType::keyUp,
     2,
     option | command,
     true,
     {true, Report::release, false, false}},
    {"release after the modifiers went up",
     KeyEventType::keyUp,
     2,
     0,
     true,
     {true, Report::release, false, false}},
    {"release without a press", KeyEventType::keyUp, 2, option | command, false, passUp},
    {"another key up while held", KeyEventType::keyUp, 55, 0, true, passDown},
    {"hook switched off by time-out",
     KeyEventType::tapDisabledByTimeout,
     2,
     option | command,
     true,
     {false, Report::none, true, true}},
    {"hook switched off by user input", KeyEventType::tapDisabledByUserInput, 2, option | command,
     true, passDown},
    {"any other event type", static_cast<KeyEventType>(12), 2, option | command, false, passUp},
};

TEST(HotkeyDecisionTest, FollowsTheMatchingRule) {
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto decision = HotkeyDecision::forEvent(Hotkey::pushToTalk(), row.type, row.keyCode,
                                                       row.flags, row.pressed);
        EXPECT_EQ(decision.dropEvent, row.expected.dropEvent);
        EXPECT_EQ(decision.report, row.expected.report);
        EXPECT_EQ(decision.pressed, row.expected.pressed);
        EXPECT_EQ(decision.reenableHook, row.expected.reenableHook);
    }
}

}  // namespace
}  // namespace quenda
