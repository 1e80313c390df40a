// "transcribe <file> [--model <id>] [--clean] [--fast]": one audio file to text, optionally
// cleaned by the language model, saved as the last transcription and printed. --fast sizes the
// speech model's window to a short file (faster, possibly less accurate); the usage line does
// not name it.

#include <filesystem>
#include <optional>

#include "app/LastTranscriptionFile.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "engine/TranscriptionEngine.h"
#include "llm/OllamaClient.h"
#include "llm/Prompts.h"

namespace quenda {

namespace {

constexpr const char* kMissingFile = "informe o arquivo de áudio";
constexpr const char* kDefaultModel = "large-v3-turbo";
constexpr const char* kLanguage = "pt";
constexpr std::chrono::seconds kCleanupTimeout{600};

struct TranscribeOptions {
    std::string modelID = kDefaultModel;
    bool clean = false;
    bool fast = false;
    std::optional<std::string> path;
};

// Options and the path may come in any order; any word that is not an option is the path
// (the last one wins), even one that begins with two dashes.
TranscribeOptions parseOptions(const std::vector<std::string>& args) {
    if (args.size() == 1)
        fail(kMissingFile);
    TranscribeOptions options;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--model") {
            if (++i == args.size())
                fail("--model requer valor");
            options.modelID = args[i];
        } else if (args[i] == "--clean") {
            options.clean = true;
        } else if (args[i] == "--fast") {
            options.fast = true;
        } else {
            options.path = args[i];
        }
    }
    if (!options.path)
        fail(kMissingFile);
    return options;
}

}  // namespace

std::string runTranscribeCommand(const std::vector<std::string>& args) {
    const TranscribeOptions options = parseOptions(args);

    // A relative path is taken from the current directory; a directory counts as existing.
    // An empty path names no file (rather than the current directory).
    std::error_code error;
    std::filesystem::path location;
    if (!options.path->empty())
        location = std::filesystem::absolute(*options.path, error);
    if (location.empty() || error || !std::filesystem::exists(location, error))
        fail("arquivo não existe: " + *options.path);

    TranscriptionEngine engine;
    std::string text;
    try {
        TranscriptionOptions how;
        how.fast = options.fast;
        text = engine.transcribe(location, options.modelID, kLanguage, how);
        if (options.clean)
            text = OllamaClient::generate(Prompts::cleanup, text, kCleanupTimeout);
    } catch (const std::exception& failure) {
        engine.stopServer();
        fail(failure.what());
    }
    // Saving is a convenience: a failed write does not cost the user the text printed below.
    (void)LastTranscriptionFile::write(text);
    engine.stopServer();
    return text;
}

}  // namespace quenda
