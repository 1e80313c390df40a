#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace quenda {

// A key combination: a layout-independent key code and a set of modifier flags. Both use the
// encoding of the reference desktop (key code 2 is the D key; Command is 0x100000), which the
// platform backends translate their native key events into, so that matching is the same on
// every platform.
struct Hotkey {
    static constexpr uint64_t shiftFlag = 0x20000;
    static constexpr uint64_t controlFlag = 0x40000;
    static constexpr uint64_t optionFlag = 0x80000;
    static constexpr uint64_t commandFlag = 0x100000;
    // The only flag bits that matching looks at; Caps Lock, Num Lock and the rest are ignored.
    static constexpr uint64_t matchedFlags = shiftFlag | controlFlag | optionFlag | commandFlag;

    // The push-to-talk combination: Option+Command+D (Ctrl+Alt+D on Linux).
    static constexpr uint16_t dKeyCode = 2;
    static Hotkey pushToTalk() { return Hotkey{dKeyCode, optionFlag | commandFlag}; }

    uint16_t keyCode = 0;
    uint64_t modifiers = 0;

    bool operator==(const Hotkey&) const = default;

    // The combination as this desktop writes it: "Ctrl+Alt+D" (Command is Ctrl, Option is
    // Alt, Control is Super).
    std::string display() const;

    // The name of a key code: a capital letter, "Espaço" for the space bar, otherwise
    // "tecla " and the code in decimal.
    static std::string keyName(uint16_t code);

    // The keyed record {"keyCode": n, "modifiers": n}.
    nlohmann::json encoded() const;
    // Reads a keyed record; nothing when a key is missing or a value is not an unsigned
    // integer of the field's size.
    static std::optional<Hotkey> decode(const nlohmann::json& record);
};

}  // namespace quenda
