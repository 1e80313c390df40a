#include <gtest/gtest.h>

#include <thread>

#include "app/AppState.h"
#include "app/LastTranscriptionFile.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

class LastTranscription : public ::testing::Test {
  protected:
    LastTranscription() { home.apply(); }
    test::TestHome home;
    const std::filesystem::path data = home.data();
    const std::filesystem::path current = data / "Quenda" / "ultima_transcricao.txt";
};

TEST_F(LastTranscription, WritesExactlyTheTextAndReadsItBack) {
    EXPECT_EQ(AppState::appSupportDir(), data / "Quenda");
    EXPECT_TRUE(std::filesystem::is_directory(data / "Quenda"));
    EXPECT_FALSE(LastTranscriptionFile::read());
    const std::string text = "Olá, ação!\nSegunda linha sem quebra no fim";
    ASSERT_FALSE(LastTranscriptionFile::write(text));
    EXPECT_EQ(test::readFile(current), text);
    EXPECT_EQ(LastTranscriptionFile::read(), text);
    ASSERT_FALSE(LastTranscriptionFile::write(""));
    EXPECT_EQ(LastTranscriptionFile::read(), "");
    test::writeFile(current, "ol\xE1");
    EXPECT_FALSE(LastTranscriptionFile::read()) << "Latin-1 bytes must read as a failure";
}

TEST_F(LastTranscription, LegacyTextIsCopiedOnceAndNeverOverwritesTheNewFile) {
    const auto legacy = data / "Brevimo" / "ultima_transcricao.txt";
    test::writeFile(legacy, "texto antigo");
    EXPECT_EQ(LastTranscriptionFile::read(), "texto antigo");
    EXPECT_EQ(test::readFile(legacy), "texto antigo");
    test::writeFile(legacy, "mudou depois");
    LastTranscriptionFile::write("novo");
    AppState::appSupportDir();
    EXPECT_EQ(LastTranscriptionFile::read(), "novo");
}

TEST_F(LastTranscription, ConcurrentWritersNeverLeaveAMixedFile) {
    const std::string a(200000, 'a'), b(100000, 'b');
    {
        std::jthread first([&] {
            for (int i = 0; i < 30; ++i)
                LastTranscriptionFile::write(a);
        });
        std::jthread second([&] {
            for (int i = 0; i < 30; ++i)
                LastTranscriptionFile::write(b);
        });
        for (int i = 0; i < 60; ++i) {
            const auto text = LastTranscriptionFile::read();
            EXPECT_TRUE(!text || *text == a || *text == b) << "a reader saw a partial write";
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(data / "Quenda"), {}), 1);
}

}  // namespace
}  // namespace quenda
