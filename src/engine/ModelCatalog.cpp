// The static side of TranscriptionEngine: the models it knows and where their files live.

#include <cstdlib>
#include <system_error>

#include "engine/TranscriptionEngine.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace quenda {

namespace {

constexpr const char* kModelRepository = "https://huggingface.co/ggerganov/whisper.cpp";

// Where earlier versions kept model files, relative to the home directory.
constexpr const char* kLegacyModelsDirectory = "Developer/Brevimo/models";

}  // namespace

const std::vector<ModelInfo>& TranscriptionEngine::availableModels() {
    static const std::vector<ModelInfo> catalog = {
        {"large-v3-turbo", "Padrão", "ggml-large-v3-turbo.bin",
         std::string(kModelRepository) + "/resolve/main/ggml-large-v3-turbo.bin", 1620},
        {"base", "Básico (mais rápido)", "ggml-base.bin",
         std::string(kModelRepository) + "/resolve/main/ggml-base.bin", 148},
    };
    return catalog;
}

std::optional<ModelInfo> TranscriptionEngine::modelInfo(std::string_view id) {
    for (const auto& model : availableModels()) {
        if (model.id == id)
            return model;
    }
    return std::nullopt;
}

std::filesystem::path TranscriptionEngine::modelsDirectory() {
    if (const char* configured = std::getenv("QUENDA_MODELS_DIR")) {
        // Empty names the current directory, as an empty relative path would.
        std::error_code error;
        return *configured ? std::filesystem::absolute(configured, error)
                           : std::filesystem::current_path(error);
    }
    auto directory = paths::applicationSupportDirectory() / "Quenda" / "models";
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    return directory;
}

namespace {

std::filesystem::path legacyModelFile(const ModelInfo& model) {
    return paths::homeDirectory() / kLegacyModelsDirectory / model.file;
}

}  // namespace

std::filesystem::path TranscriptionEngine::modelPath(std::string_view id) {
    auto model = modelInfo(id);
    if (!model)
        throw EngineError::modelNotFound(std::string(id));

    auto destination = modelsDirectory() / model->file;
    std::error_code error;
    if (std::filesystem::exists(destination, error))
        return destination;

    auto legacy = legacyModelFile(*model);
    if (!std::filesystem::exists(legacy, error))
        throw EngineError::modelNotFound(model->file);

    // Copied (the legacy file stays) through a temporary file, so a copy cut short by a full
    // disk never leaves a truncated model that would then count as installed. A copy cut short
    // by a crash leaves its temporary file, as big as the model: removed here, unless another
    // copy is still writing it.
    files::removeStaleTempFiles(destination, files::copyTempKind);
    files::copyFileAtomically(legacy, destination);
    return destination;
}

bool TranscriptionEngine::isModelInstalled(std::string_view id) {
    auto model = modelInfo(id);
    if (!model)
        return false;
    std::error_code error;
    return std::filesystem::exists(modelsDirectory() / model->file, error) ||
           std::filesystem::exists(legacyModelFile(*model), error);
}

}  // namespace quenda
