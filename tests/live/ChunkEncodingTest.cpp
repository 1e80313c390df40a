#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "live/GraphemeCount.h"
#include "live/LiveTranslator.h"

using quenda::live::graphemeCount;
using quenda::live::LiveTranslator;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int value : values)
        out.push_back(static_cast<char>(value));
    return out;
}

TEST(WavData, WritesTheCanonicalHeaderAndConvertsSamplesTowardZero) {
    const std::vector<float> samples = {1.5f, -1.5f, 0.25f};
    const auto wav = LiveTranslator::wavData(samples, 16000);
    ASSERT_EQ(wav.size(), 50u);
    const std::string header =
        "RIFF" + bytes({42, 0, 0, 0}) + "WAVEfmt " +
        bytes({16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0x3E, 0, 0, 0x00, 0x7D, 0, 0, 2, 0, 16, 0}) + "data" +
        bytes({6, 0, 0, 0});
    EXPECT_EQ(wav.substr(0, 44), header);
    EXPECT_EQ(wav.substr(44), bytes({0xFF, 0x7F, 0x01, 0x80, 0xFF, 0x1F}));

    // 1.0 → 32 767, −1.0 → −32 767 (never −32 768), 0.5 → 16 383, NaN → 32 767.
    const std::vector<float> edges = {1.0f,
                                      -1.0f,
                                      0.5f,
                                      std::numeric_limits<float>::quiet_NaN(),
                                      -std::numeric_limits<float>::infinity(),
                                      -0.00002f};
    EXPECT_EQ(LiveTranslator::wavData(edges, 16000).substr(44),
              bytes({0xFF, 0x7F, 0x01, 0x80, 0xFF, 0x3F, 0xFF, 0x7F, 0x01, 0x80, 0x00, 0x00}));

    const auto chunk = LiveTranslator::wavData(std::vector<float>(96000, 0.0f), 16000);
    EXPECT_EQ(chunk.size(), 192044u);
    EXPECT_EQ(LiveTranslator::wavData({}, 16000).size(), 44u);
}

TEST(StripArtifacts, RemovesEachMarkerExactlyAndTrimsOnlyTheEnds) {
    EXPECT_EQ(LiveTranslator::stripArtifacts(" [BLANK_AUDIO]  [BLANK_AUDIO] "), "");
    EXPECT_EQ(LiveTranslator::stripArtifacts("♪ Hello ♪"), "Hello");
    EXPECT_EQ(LiveTranslator::stripArtifacts("[MUSIC] [Música] ok"), "ok");
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
    EXPECT_EQ(graphemeCount("a"), 1u);
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
