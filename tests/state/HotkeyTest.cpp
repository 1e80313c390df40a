#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "state/Hotkey.h"

namespace quenda {
namespace {

TEST(HotkeyTest, PushToTalkIsCtrlAltD) {
    const Hotkey hotkey = Hotkey::pushToTalk();
    EXPECT_EQ(hotkey.keyCode, 2);
    EXPECT_EQ(hotkey.modifiers, 0x180000u);
    EXPECT_EQ(hotkey.display(), "Ctrl+Alt+D");
    EXPECT_EQ(hotkey, (Hotkey{2, 0x180000}));
    EXPECT_NE(hotkey, (Hotkey{2, 0x100000}));
    EXPECT_NE(hotkey, (Hotkey{3, 0x180000}));
}

TEST(HotkeyTest, DisplayNamesEveryModifierInAFixedOrder) {
    EXPECT_EQ((Hotkey{49, 0x1E0000 | 0x10000}).display(), "Ctrl+Alt+Shift+Super+Espaço");
    EXPECT_EQ((Hotkey{36, 0}).display(), "tecla 36");
    EXPECT_EQ((Hotkey{9, Hotkey::shiftFlag}).display(), "Shift+V");
    EXPECT_EQ(Hotkey::keyName(0), "A");
    EXPECT_EQ(Hotkey::keyName(65535), "tecla 65535");
}

TEST(HotkeyTest, EncodesAndDecodesAsAKeyedRecord) {
    const Hotkey hotkey{65535, 0xFFFFFFFFFFFFFFFFull};
    const auto record = hotkey.encoded();
    EXPECT_EQ(record.size(), 2u);
    EXPECT_EQ(Hotkey::decode(nlohmann::json::parse(record.dump())), hotkey);
    EXPECT_EQ(Hotkey::decode(nlohmann::json::parse(R"({"keyCode": 2, "modifiers": 1572864})")),
              Hotkey::pushToTalk());
    EXPECT_EQ(Hotkey::decode(nlohmann::json{{"keyCode", 2}, {"modifiers", 1572864}}),
              Hotkey::pushToTalk());

    for (const char* bad :
         {R"({"keyCode": 2})", R"({"modifiers": 1})", R"([2, 1])",
          R"({"keyCode": 65536, "modifiers": 0})", R"({"keyCode": -1, "modifiers": 0})",
          R"({"keyCode": 2, "modifiers": -5})", R"({"keyCode": 2.5, "modifiers": 0})",
          R"({"keyCode": "2", "modifiers": 0})"}) {
        EXPECT_EQ(Hotkey::decode(nlohmann::json::parse(bad)), std::nullopt) << bad;
    }
}

}  // namespace
}  // namespace quenda
