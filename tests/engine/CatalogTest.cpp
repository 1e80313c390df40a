#include <gtest/gtest.h>

#include "engine/TranscriptionEngine.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

using test::ScopedEnv;
using test::TempDir;

TEST(EngineError, DescriptionsAreTheFixedPortugueseTexts) {
    EXPECT_EQ(EngineError::modelNotFound("base").errorDescription(),
              "Modelo ainda não baixado: base. Use o botão de download na janela.");
    EXPECT_EQ(
        EngineError::unsupportedFile("nota.txt").errorDescription(),
        "Arquivo não suportado: nota.txt. Use .opus, .ogg, .m4a, .mp3, .wav, .aiff ou .flac.");
    EXPECT_EQ(EngineError::needsFFmpeg(".opus").errorDescription(),
              "Para .opus instale o ffmpeg (brew install ffmpeg) ou converta para .m4a/.mp3/.wav.");
    EXPECT_EQ(EngineError::conversionFailed("x").errorDescription(), "Falha ao converter áudio: x");
    EXPECT_EQ(EngineError::serverFailed("y").errorDescription(),
              "Falha ao iniciar o motor Whisper: y");
    EXPECT_EQ(EngineError::transcriptionFailed("z").errorDescription(), "Falha na transcrição: z");
    EXPECT_EQ(EngineError::whisperNotFound().errorDescription(),
              "Motor Whisper não encontrado no pacote do app.");
    EXPECT_STREQ(EngineError::whisperNotFound().what(),
                 "Motor Whisper não encontrado no pacote do app.");
}

TEST(ModelCatalog, KnowsTheTwoModelsInPickerOrder) {
    const auto& models = TranscriptionEngine::availableModels();
    ASSERT_EQ(models.size(), 2u);
    EXPECT_EQ(models[0].id, "large-v3-turbo");
    EXPECT_EQ(models[0].label, "Padrão");
    EXPECT_EQ(models[0].file, "ggml-large-v3-turbo.bin");
    EXPECT_TRUE(models[0].url.ends_with("/resolve/main/ggml-large-v3-turbo.bin"));
    EXPECT_EQ(models[0].sizeMB, 1620);
    EXPECT_EQ(models[1].id, "base");
    EXPECT_EQ(models[1].label, "Básico (mais rápido)");
    EXPECT_TRUE(models[1].url.ends_with("/resolve/main/ggml-base.bin"));
    EXPECT_EQ(models[1].sizeMB, 148);

    EXPECT_EQ(TranscriptionEngine::modelInfo("base"), models[1]);
    EXPECT_FALSE(TranscriptionEngine::modelInfo("Base"));
    EXPECT_FALSE(TranscriptionEngine::modelInfo(""));
}

// Every test gets its own home and data directory.
class ModelStorage : public ::testing::Test {
  protected:
    TempDir home;
    ScopedEnv homeVariable{"HOME", home.path().string()};
    ScopedEnv dataVariable{"XDG_DATA_HOME", (home / "data").string()};
    ScopedEnv modelsVariable{"QUENDA_MODELS_DIR", std::nullopt};
    std::filesystem::path legacy(const std::string& file) {
        return home / "Developer" / "Brevimo" / "models" / file;
    }
};

TEST_F(ModelStorage, DefaultDirectoryIsCreatedUnderTheDataDirectory) {
    auto directory = TranscriptionEngine::modelsDirectory();
    EXPECT_EQ(directory, home / "data" / "Quenda" / "models");
    EXPECT_TRUE(std::filesystem::is_directory(directory));
}

TEST_F(ModelStorage, OverrideIsUsedAsGivenAndNeverCreated) {
    ScopedEnv overrideVariable("QUENDA_MODELS_DIR", (home / "elsewhere" / "models").string());
    EXPECT_EQ(TranscriptionEngine::modelsDirectory(), home / "elsewhere" / "models");
    EXPECT_FALSE(std::filesystem::exists(home / "elsewhere"));
    // A legacy file cannot be copied into a directory that does not exist.
    test::writeFile(legacy("ggml-base.bin"), "modelo antigo");
    EXPECT_FALSE(TranscriptionEngine::isModelInstalled("base"));
    EXPECT_THROW(TranscriptionEngine::modelPath("base"), std::filesystem::filesystem_error);
    EXPECT_FALSE(std::filesystem::exists(home / "elsewhere"));

    ScopedEnv relative("QUENDA_MODELS_DIR", "rel/models");
    EXPECT_EQ(TranscriptionEngine::modelsDirectory(),
              std::filesystem::current_path() / "rel" / "models");
}

TEST_F(ModelStorage, MissingModelsNameTheIdentifierOrTheFile) {
    try {
        TranscriptionEngine::modelPath("tiny");
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error, EngineError::modelNotFound("tiny"));
    }
    try {
        TranscriptionEngine::modelPath("base");
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error, EngineError::modelNotFound("ggml-base.bin"));
    }
    EXPECT_FALSE(TranscriptionEngine::isModelInstalled("base"));
    EXPECT_FALSE(TranscriptionEngine::isModelInstalled("tiny"));
}

TEST_F(ModelStorage, AnyFileAtTheDestinationCountsAsInstalled) {
    test::writeFile(TranscriptionEngine::modelsDirectory() / "ggml-base.bin", "");
    EXPECT_TRUE(TranscriptionEngine::isModelInstalled("base"));
    EXPECT_EQ(TranscriptionEngine::modelPath("base"),
              TranscriptionEngine::modelsDirectory() / "ggml-base.bin");
    EXPECT_FALSE(TranscriptionEngine::isModelInstalled("large-v3-turbo"));
}

TEST_F(ModelStorage, LegacyModelIsCopiedOnceAndKept) {
    test::writeFile(legacy("ggml-large-v3-turbo.bin"), "pesos antigos");
    EXPECT_TRUE(TranscriptionEngine::isModelInstalled("large-v3-turbo"));
    auto copied = TranscriptionEngine::modelsDirectory() / "ggml-large-v3-turbo.bin";
    EXPECT_EQ(test::readFile(copied), "pesos antigos");
    EXPECT_EQ(test::readFile(legacy("ggml-large-v3-turbo.bin")), "pesos antigos");

    // Once copied, the legacy location is not looked at again.
    test::writeFile(legacy("ggml-large-v3-turbo.bin"), "mudou");
    EXPECT_EQ(TranscriptionEngine::modelPath("large-v3-turbo"), copied);
    EXPECT_EQ(test::readFile(copied), "pesos antigos");
    // Nothing but the model was left in the models directory.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(copied.parent_path()), {}), 1);
}

TEST(FindExecutable, LooksInTheResourceDirectoryFirstAndOnlyAtExecutableFiles) {
    TempDir resources;
    const std::string name = "quenda-test-tool-that-exists-nowhere";
    EXPECT_FALSE(TranscriptionEngine::findExecutable(name, resources.path()));
    test::writeFile(resources / "bin" / name, "#!/bin/sh\n");
    EXPECT_FALSE(TranscriptionEngine::findExecutable(name, resources.path()));
    std::filesystem::permissions(resources / "bin" / name, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(TranscriptionEngine::findExecutable(name, resources.path()),
              resources / "bin" / name);
    EXPECT_FALSE(TranscriptionEngine::findExecutable(name, std::nullopt));
    // The fixed system locations follow; the search path is not consulted.
    EXPECT_EQ(TranscriptionEngine::findExecutable("sh", resources.path()),
              std::filesystem::path("/usr/bin/sh"));
}

}  // namespace
}  // namespace quenda
