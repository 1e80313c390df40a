// TranscriptionEngine's audio normalisation: every input file is converted by an outside
// program into the one format the inference server is sent, 16 000 Hz mono signed 16-bit WAV.

#include <algorithm>
#include <memory>

#include "engine/TranscriptionEngine.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "platform/Uuid.h"

namespace quenda {

namespace {

// The text after the last dot of the file name, lower-cased; empty when there is no dot.
std::string lowerCaseExtension(const std::string& fileName) {
    auto dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return {};
    std::string extension = fileName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return extension;
}

template <size_t N>
bool contains(const std::array<std::string_view, N>& list, std::string_view item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Runs a converter to its end. Its standard error is drained in full while it runs.
std::unique_ptr<Process> runConverter(const std::filesystem::path& program,
                                      const std::vector<std::string>& arguments) {
    ProcessOptions options;
    options.standardError = ProcessOptions::Output::capture;
    auto process = Process::launch(program, arguments, options);
    process->waitForExit();
    return process;
}

// The converter's diagnostic: its standard error as UTF-8 (or nothing), trimmed.
std::string diagnostic(Process& converter) {
    std::string text = converter.standardErrorText();
    return files::isValidUtf8(text) ? text::trimWhitespace(text) : std::string();
}

}  // namespace

TemporaryFile TranscriptionEngine::normalize(const std::filesystem::path& input,
                                             const ConverterSettings& converters) {
    // Absolute paths for both files: a name that begins with "-" is then never taken for a
    // converter option, and one that looks like "proto:..." never for an ffmpeg protocol.
    auto source = std::filesystem::absolute(input);
    if (!source.has_filename())
        source = source.parent_path();
    const std::string fileName = source.filename().string();
    const std::string extension = lowerCaseExtension(fileName);

    TemporaryFile output(std::filesystem::absolute(paths::temporaryDirectory()) /
                         ("quenda-" + makeUuidText() + ".wav"));
    auto findFFmpeg = [&] {
        return converters.findFFmpeg ? converters.findFFmpeg() : findExecutable("ffmpeg");
    };

    if (contains(nativeExtensions, extension)) {
        // Without the platform converter (Linux has no afconvert) ffmpeg converts these too.
        if (files::isExecutableFile(converters.platformConverter)) {
            auto converter = runConverter(converters.platformConverter,
                                          {"-f", "WAVE", "-d", "LEI16@16000", "-c", "1",
                                           source.string(), output.path().string()});
            if (converter->exitStatus() == 0)
                return output;
            auto ffmpeg = findFFmpeg();
            if (!ffmpeg)
                throw EngineError::conversionFailed(diagnostic(*converter));
            runFFmpeg(*ffmpeg, source, output.path());
            return output;
        }
        auto ffmpeg = findFFmpeg();
        if (!ffmpeg)
            throw EngineError::needsFFmpeg("." + extension);
        runFFmpeg(*ffmpeg, source, output.path());
        return output;
    }
    if (contains(ffmpegExtensions, extension)) {
        auto ffmpeg = findFFmpeg();
        if (!ffmpeg)
            throw EngineError::needsFFmpeg("." + extension);
        runFFmpeg(*ffmpeg, source, output.path());
        return output;
    }
    throw EngineError::unsupportedFile(fileName);
}

void TranscriptionEngine::runFFmpeg(const std::filesystem::path& ffmpeg,
                                    const std::filesystem::path& input,
                                    const std::filesystem::path& output) {
    auto converter =
        runConverter(ffmpeg, {"-y", "-v", "error", "-i", input.string(), "-ar", "16000", "-ac", "1",
                              "-c:a", "pcm_s16le", output.string()});
    if (converter->exitStatus() != 0)
        throw EngineError::conversionFailed(diagnostic(*converter));
}

}  // namespace quenda
