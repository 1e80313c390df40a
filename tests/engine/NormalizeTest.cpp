// Conversion of audio files into the engine's format with the real ffmpeg, and with small
// stand-in converters where a machine without one of them is played.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestAudio.h"
#include "WavInfo.h"
#include "engine/TranscriptionEngine.h"
#include "platform/Text.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

class NormalizeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(tmp_);
        test::makeSpeech(speech_, "um dois três quatro cinco");
    }

    // The engine's own files left in the temporary directory.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(tmp_))
            names.push_back(entry.path().filename().string());
        return names;
    }

    // A converter stand-in: a shell script that runs `body`.
    std::filesystem::path script(const std::string& name, const std::string& body) {
        auto path = dir_ / name;
        writeFile(path, "#!/bin/sh\n" + body + "\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }

    static EngineError normalizeError(const std::filesystem::path& input,
                                      const ConverterSettings& converters = {}) {
        try {
            TranscriptionEngine::normalize(input, converters);
        } catch (const EngineError& error) {
            return error;
        }
        ADD_FAILURE() << "normalize accepted " << input;
        return EngineError::whisperNotFound();
    }

    static std::optional<std::filesystem::path> noFFmpeg() { return std::nullopt; }

    TempDir dir_;
    std::filesystem::path tmp_ = dir_ / "tmp";
    test::ScopedEnv tmpdir_{"TMPDIR", tmp_.string()};
    std::filesystem::path speech_ = dir_ / "speech.wav";
};

TEST_F(NormalizeTest, EveryListedFormatBecomesANewEngineWavAndTheInputIsUntouched) {
    const double seconds = test::wavSeconds(speech_);
    std::vector<std::string> extensions(TranscriptionEngine::nativeExtensions.begin(),
                                        TranscriptionEngine::nativeExtensions.end());
    extensions.insert(extensions.end(), TranscriptionEngine::ffmpegExtensions.begin(),
                      TranscriptionEngine::ffmpegExtensions.end());
    for (const auto& extension : extensions) {
        SCOPED_TRACE(extension);
        const auto input = dir_ / ("fala." + extension);
        test::convertAudio(speech_, input);
        const std::string before = readFile(input);

        std::filesystem::path outputPath;
        {
            TemporaryFile output = TranscriptionEngine::normalize(input);
            outputPath = output.path();
            EXPECT_EQ(outputPath.parent_path(), tmp_);
            EXPECT_TRUE(outputPath.filename().string().starts_with("quenda-"));
            EXPECT_EQ(outputPath.filename().string().size(), 7u + 36u + 4u);
            std::string error;
            auto info = test::parseWav(readFile(outputPath), &error);
            ASSERT_TRUE(info) << error;
            EXPECT_TRUE(info->isEngineFormat());
            // Lossy codecs add a little padding.
            EXPECT_NEAR(info->seconds(), seconds, 0.1);
        }
        EXPECT_FALSE(std::filesystem::exists(outputPath));
        EXPECT_EQ(readFile(input), before);
    }
}

TEST_F(NormalizeTest, StrangeNamesAreFilesNeverOptions) {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    const std::pair<std::string, std::string> files[] = {
        {"-y.mp3", "mp3"},        {"-i.flac", "flac"}, {"com espaço e ção.M4A", "m4a"},
        {"file:fala.ogg", "ogg"}, {"--.wav", "wav"},
    };
    for (const auto& [name, format] : files) {
        SCOPED_TRACE(name);
        test::convertAudio(speech_, dir_ / ("made." + format));
        std::filesystem::rename(dir_ / ("made." + format), dir_ / name);
        // Relative to the current directory, as a user types it.
        TemporaryFile output = TranscriptionEngine::normalize(name);
        auto info = test::parseWav(readFile(output.path()));
        ASSERT_TRUE(info);
        EXPECT_TRUE(info->isEngineFormat());
        EXPECT_NEAR(info->seconds(), test::wavSeconds(speech_), 0.1);
    }
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(NormalizeTest, RejectedFilesNameThemselvesAndLeaveNothing) {
    writeFile(dir_ / "LEIAME", "texto");
    writeFile(dir_ / "Notas.TXT", "texto");
    writeFile(dir_ / "fala.", "texto");
    EXPECT_EQ(normalizeError(dir_ / "LEIAME"), EngineError::unsupportedFile("LEIAME"));
    EXPECT_EQ(normalizeError(dir_ / "Notas.TXT"), EngineError::unsupportedFile("Notas.TXT"));
    EXPECT_EQ(normalizeError(dir_ / "fala."), EngineError::unsupportedFile("fala."));

    // A damaged file: only ffmpeg's own error lines are reported, and its partial output goes.
    writeFile(dir_ / "estragado.mp3", std::string(4096, '\x5a'));
    auto damaged = normalizeError(dir_ / "estragado.mp3");
    EXPECT_EQ(damaged.kind(), EngineError::Kind::conversionFailed);
    EXPECT_FALSE(damaged.payload().empty());
    EXPECT_EQ(damaged.payload(), text::trimWhitespace(damaged.payload()));
    EXPECT_TRUE(damaged.errorDescription().starts_with("Falha ao converter áudio: "));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(NormalizeTest, WithoutFFmpegEveryFormatAsksForItWhenThereIsNoPlatformConverter) {
    test::convertAudio(speech_, dir_ / "fala.opus");
    test::convertAudio(speech_, dir_ / "fala.mp3");
    ConverterSettings none{dir_ / "no-afconvert", noFFmpeg};
    auto opus = normalizeError(dir_ / "fala.opus", none);
    EXPECT_EQ(opus, EngineError::needsFFmpeg(".opus"));
    EXPECT_TRUE(opus.errorDescription().starts_with("Para .opus instale o ffmpeg"));
    // Not the launch error of a converter the user never heard of.
    EXPECT_EQ(normalizeError(dir_ / "FALA.MP3", none), EngineError::needsFFmpeg(".mp3"));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(NormalizeTest, APlatformConverterRunsFirstAndFFmpegTakesOverWhenItFails) {
    test::convertAudio(speech_, dir_ / "fala.m4a");
    const auto arguments = dir_ / "afconvert-args";
    ConverterSettings settings;
    settings.platformConverter =
        script("afconvert", "for a in \"$@\"; do echo \"$a\" >> '" + arguments.string() +
                                "'; done\necho '  afconvert: formato ruim ' >&2\nexit 1");

    // ffmpeg converts the same input into the same output.
    TemporaryFile output = TranscriptionEngine::normalize(dir_ / "fala.m4a", settings);
    EXPECT_TRUE(test::parseWav(readFile(output.path()))->isEngineFormat());
    EXPECT_EQ(readFile(arguments), "-f\nWAVE\n-d\nLEI16@16000\n-c\n1\n" +
                                       (dir_ / "fala.m4a").string() + "\n" +
                                       output.path().string() + "\n");

    // Without ffmpeg its trimmed diagnostic is the failure.
    settings.findFFmpeg = noFFmpeg;
    EXPECT_EQ(normalizeError(dir_ / "fala.m4a", settings),
              EngineError::conversionFailed("afconvert: formato ruim"));
}

TEST_F(NormalizeTest, AChattyFailingConverterIsReadInFullWithoutHanging) {
    // Far more than a pipe holds, written before the converter exits.
    auto ffmpeg = script("ffmpeg", "head -c 1000000 /dev/zero | tr '\\0' e >&2\nexit 1");
    ConverterSettings settings;
    settings.findFFmpeg = [ffmpeg] { return std::optional(ffmpeg); };
    writeFile(dir_ / "fala.ogg", "x");
    auto error = normalizeError(dir_ / "fala.ogg", settings);
    EXPECT_EQ(error, EngineError::conversionFailed(std::string(1000000, 'e')));
}

TEST_F(NormalizeTest, TwoCallsGiveTwoFiles) {
    TemporaryFile first = TranscriptionEngine::normalize(speech_);
    TemporaryFile second = TranscriptionEngine::normalize(speech_);
    EXPECT_NE(first.path(), second.path());
    EXPECT_EQ(leftovers().size(), 2u);
}

}  // namespace
}  // namespace quenda
