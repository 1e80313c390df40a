#include "input/Hotkey.h"

#include <array>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

namespace quenda {

namespace {

constexpr std::array<std::pair<uint16_t, const char*>, 27> keyNames{{
    {0, "A"},  {11, "B"}, {8, "C"},  {2, "D"},  {14, "E"}, {3, "F"},       {5, "G"},
    {4, "H"},  {34, "I"}, {38, "J"}, {40, "K"}, {37, "L"}, {46, "M"},      {45, "N"},
    {31, "O"}, {35, "P"}, {12, "Q"}, {15, "R"}, {1, "S"},  {17, "T"},      {32, "U"},
    {9, "V"},  {13, "W"}, {7, "X"},  {16, "Y"}, {6, "Z"},  {49, "Espaço"},
}};

// A non-negative integer of the record, whether it was built as signed or parsed as unsigned.
std::optional<uint64_t> unsignedValue(const nlohmann::json& record, const char* key) {
    const auto value = record.find(key);
    if (value == record.end())
        return std::nullopt;
    if (value->is_number_unsigned())
        return value->get<uint64_t>();
    if (value->is_number_integer() && value->get<int64_t>() >= 0)
        return static_cast<uint64_t>(value->get<int64_t>());
    return std::nullopt;
}

}  // namespace

std::string Hotkey::display() const {
    std::string text;
    if (modifiers & commandFlag)
        text += "Ctrl+";
    if (modifiers & optionFlag)
        text += "Alt+";
    if (modifiers & shiftFlag)
        text += "Shift+";
    if (modifiers & controlFlag)
        text += "Super+";
    return text + keyName(keyCode);
}

std::string Hotkey::keyName(uint16_t code) {
    for (const auto& [known, name] : keyNames) {
        if (known == code)
            return name;
    }
    return "tecla " + std::to_string(code);
}

nlohmann::json Hotkey::encoded() const {
    return nlohmann::json{{"keyCode", keyCode}, {"modifiers", modifiers}};
}

std::optional<Hotkey> Hotkey::decode(const nlohmann::json& record) {
    if (!record.is_object())
        return std::nullopt;
    const auto code = unsignedValue(record, "keyCode");
    const auto flags = unsignedValue(record, "modifiers");
    if (!code || !flags || *code > std::numeric_limits<uint16_t>::max())
        return std::nullopt;
    return Hotkey{static_cast<uint16_t>(*code), *flags};
}

}  // namespace quenda
