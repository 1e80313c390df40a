#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "live/GraphemeCount.h"
#include "live/LiveTranslator.h"

using quenda::live::graphemeCount;
using quenda::live::LiveTranslator;

namespace {

using namespace std::string_literals;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

TEST(WavData, WritesTheCanonicalHeaderAndConvertsSamplesTowardZero) {
    EXPECT_EQ(LiveTranslator::wavData(std::vector<float>{1.5f, -1.5f, 0.25f}, 16000),
              "RIFF\x2A\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\x3E\0\0\0\x7D\0\0\x02\0\x10\0"
              "data\x06\0\0\0\xFF\x7F\x01\x80\xFF\x1F"s);
    // 1.0 → 32 767, −1.0 → −32 767 (never −32 768), 0.5 → 16 383, NaN → 32 767.
    EXPECT_EQ(
        LiveTranslator::wavData(std::vector{1.0f, -1.0f, 0.5f, kNaN, -kInfinity, -0.00002f}, 16000)
            .substr(44),
        "\xFF\x7F\x01\x80\xFF\x3F\xFF\x7F\x01\x80\0\0"s);
    EXPECT_EQ(LiveTranslator::wavData({}, 16000).size(), 44u);
}

TEST(StripArtifacts, RemovesEachMarkerExactlyAndTrimsOnlyTheEnds) {
    EXPECT_EQ(LiveTranslator::stripArtifacts(" [BLANK_AUDIO]  [BLANK_AUDIO] "), "");
    EXPECT_EQ(LiveTranslator::stripArtifacts("♪ Hello ♪"), "Hello");
    EXPECT_EQ(LiveTranslator::stripArtifacts("[music] ok"), "[music] ok");  // case-sensitive
    EXPECT_EQ(LiveTranslator::stripArtifacts("before [MUSIC] after"), "before  after");
    EXPECT_EQ(LiveTranslator::stripArtifacts("(música)\n[música] fim\r\n"), "fim");
    EXPECT_EQ(LiveTranslator::stripArtifacts("\u00A0texto\u3000"), "texto");
    // One pass per marker, in the listed order: a marker that appears only once an earlier
    // one is gone stays.
    EXPECT_EQ(LiveTranslator::stripArtifacts("[MUS[MUSIC]IC]"), "[MUSIC]");
    EXPECT_EQ(LiveTranslator::stripArtifacts("[MUS♪IC] x"), "[MUSIC] x");
}

TEST(GraphemeCount, CountsWhatAReaderSeesAsOneCharacter) {
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("ok"), 2u);
    EXPECT_EQ(graphemeCount("é"), 1u);         // precomposed
    EXPECT_EQ(graphemeCount("e\u0301"), 1u);   // with a combining accent
    EXPECT_EQ(graphemeCount("👍🏽"), 1u);  // with a skin-tone modifier
    EXPECT_EQ(graphemeCount("🇧🇷"), 1u);        // a flag
    EXPECT_EQ(graphemeCount("🇧🇷🇵🇹"), 2u);
    EXPECT_EQ(graphemeCount("👩\u200D💻"), 1u);  // joined by a zero-width joiner
    EXPECT_EQ(graphemeCount("\r\n"), 1u);
    EXPECT_EQ(graphemeCount("\xFF\xFE"), 2u);  // bytes that are not UTF-8
    EXPECT_EQ(graphemeCount("uma frase longa", 2), 2u);
}

}  // namespace
