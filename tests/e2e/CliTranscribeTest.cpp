// "quenda --cli transcribe" and "quenda --cli summarize" run as a user runs them: an installed
// copy of quenda whose bundled whisper-server is the fake, the real ffmpeg, and the fake Ollama.

#include <gtest/gtest.h>
#include <signal.h>

#include "FakeServers.h"
#include "TestAudio.h"
#include "llm/Prompts.h"
#include "platform/Process.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

using test::ProgramResult;
using test::readFile;
using test::writeFile;

class CliTranscribeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(tmp_);
        quenda_ = test::installQuendaWithFakeServer(dir_ / "install");
        test::writeFakeModel(models_ / "ggml-large-v3-turbo.bin", {"text um|dois"});
        test::writeFakeModel(models_ / "ggml-base.bin", {"text base"});
        test::makeSpeech(speech_, "um dois");
        test::convertAudio(speech_, mp3_);
    }

    std::map<std::string, std::string> environment() const {
        return {{"HOME", (dir_ / "home").string()},
                {"XDG_DATA_HOME", (dir_ / "data").string()},
                {"QUENDA_MODELS_DIR", models_.string()},
                {"TMPDIR", tmp_.string()},
                {"FAKE_WHISPER_RECORD", record_.string()}};
    }

    ProgramResult cli(std::vector<std::string> args) const {
        args.insert(args.begin(), "--cli");
        return test::runProgram(quenda_, args, environment());
    }

    // Runs a command that must fail with exactly this message and print nothing.
    void expectFailure(const std::vector<std::string>& args, const std::string& message) const {
        auto result = cli(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "ERRO: " + message + "\n");
    }

    std::filesystem::path lastFile() const {
        return dir_ / "data" / "Quenda" / "ultima_transcricao.txt";
    }

    std::vector<nlohmann::json> events(const std::string& name) const {
        std::vector<nlohmann::json> found;
        for (const auto& entry : test::readRecord(record_)) {
            if (entry.value("event", "") == name)
                found.push_back(entry);
        }
        return found;
    }

    // Every server that got as far as listening was asked to stop (SIGTERM), every server is
    // gone, and quenda left no converted file behind.
    void expectCleanExit() const {
        for (const auto& start : events("start")) {
            const int pid = start["pid"];
            EXPECT_TRUE(test::waitUntil([pid] { return !test::processAlive(pid); }));
        }
        for (const auto& listening : events("listening")) {
            const int pid = listening["pid"];
            bool stopped = false;
            for (const auto& stop : events("stop"))
                stopped = stopped || (stop["pid"] == pid && stop["signal"] == SIGTERM);
            EXPECT_TRUE(stopped) << "server " << pid << " was not stopped";
        }
        EXPECT_TRUE(std::filesystem::is_empty(tmp_));
    }

    test::TempDir dir_;
    std::filesystem::path models_ = dir_ / "models";
    std::filesystem::path tmp_ = dir_ / "tmp";
    std::filesystem::path record_ = dir_ / "whisper.jsonl";
    std::filesystem::path speech_ = dir_ / "fala.wav";
    std::filesystem::path mp3_ = dir_ / "fala.mp3";
    std::filesystem::path quenda_;
};

TEST_F(CliTranscribeTest, TranscribesSavesPrintsAndStopsTheServer) {
    const std::string input = readFile(mp3_);
    auto result = cli({"transcribe", mp3_.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "um dois\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(lastFile()), "um dois");
    EXPECT_EQ(readFile(mp3_), input);
    ASSERT_EQ(events("start").size(), 1u);
    EXPECT_EQ(events("start")[0]["args"][1], (models_ / "ggml-large-v3-turbo.bin").string());
    expectCleanExit();
}

TEST_F(CliTranscribeTest, OptionsComeInAnyOrderAndTheLastPathWins) {
    test::makeTone(dir_ / "tom.ogg", 2.5);
    const std::vector<std::vector<std::string>> orders = {
        {"transcribe", "--model", "base", mp3_.string(), (dir_ / "tom.ogg").string()},
        {"transcribe", mp3_.string(), "--model", "base", (dir_ / "tom.ogg").string()},
        {"transcribe", mp3_.string(), (dir_ / "tom.ogg").string(), "--model", "base"},
    };
    for (const auto& args : orders) {
        auto result = cli(args);
        EXPECT_EQ(result.out, "base\n") << result.err;
    }
    auto requests = events("request");
    std::erase_if(requests, [](const auto& request) { return request["path"] != "/inference"; });
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& request : requests)
        EXPECT_NEAR(request["wav"]["seconds"].get<double>(), 2.5, 0.05);
    expectCleanExit();
}

TEST_F(CliTranscribeTest, RelativeStrangeNamesAreTakenFromTheCurrentDirectory) {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    for (const std::string name : {"-fala com espaço ção.mp3", "--help.wav"}) {
        std::filesystem::copy_file(name.ends_with(".mp3") ? mp3_ : speech_, dir_ / name);
        auto result = cli({"transcribe", name});
        EXPECT_EQ(result.out, "um dois\n") << name << ": " << result.err;
    }
    std::filesystem::current_path(cwd);
    expectCleanExit();
}

TEST_F(CliTranscribeTest, ArgumentErrorsStartNoServer) {
    expectFailure({"transcribe"}, "informe o arquivo de áudio");
    expectFailure({"transcribe", "--clean"}, "informe o arquivo de áudio");
    expectFailure({"transcribe", mp3_.string(), "--model"}, "--model requer valor");
    expectFailure({"transcribe", mp3_.string(), "--verbose"}, "arquivo não existe: --verbose");
    expectFailure({"transcribe", "nada/fala.wav"}, "arquivo não existe: nada/fala.wav");
    expectFailure({"transcribe", ""}, "arquivo não existe: ");
    EXPECT_TRUE(events("start").empty());
    EXPECT_FALSE(std::filesystem::exists(lastFile()));
}

TEST_F(CliTranscribeTest, EngineFailuresAreReportedExactlyAndChangeNothing) {
    writeFile(lastFile(), "anterior");
    writeFile(dir_ / "notas.txt", "não é áudio");
    writeFile(dir_ / "estragado.mp3", std::string(3000, 'Z'));

    expectFailure({"transcribe", mp3_.string(), "--model", "nao-existe"},
                  "Modelo ainda não baixado: nao-existe. Use o botão de download na janela.");
    EXPECT_TRUE(events("start").empty());

    expectFailure({"transcribe", (dir_ / "notas.txt").string()},
                  "Arquivo não suportado: notas.txt. Use .opus, .ogg, .m4a, .mp3, .wav, .aiff ou "
                  ".flac.");
    auto damaged = cli({"transcribe", (dir_ / "estragado.mp3").string()});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_TRUE(damaged.err.starts_with("ERRO: Falha ao converter áudio: ")) << damaged.err;
    EXPECT_GT(damaged.err.size(), std::string("ERRO: Falha ao converter áudio: \n").size());

    test::writeFakeModel(
        models_ / "ggml-base.bin",
        {"inference_status 500", "inference_body {\"error\":\"failed to process audio\"}"});
    expectFailure({"transcribe", "--model", "base", mp3_.string()},
                  "Falha na transcrição: {\"error\":\"failed to process audio\"}");

    test::writeFakeModel(models_ / "ggml-base.bin", {"exit_after_load 3"});
    expectFailure({"transcribe", "--model", "base", mp3_.string()},
                  "Falha ao iniciar o motor Whisper: processo encerrou ao carregar o modelo");

    std::filesystem::remove(models_ / "ggml-large-v3-turbo.bin");
    expectFailure({"transcribe", mp3_.string()},
                  "Modelo ainda não baixado: ggml-large-v3-turbo.bin. Use o botão de download na "
                  "janela.");

    std::filesystem::remove(dir_ / "install" / "share" / "quenda" / "bin" / "whisper-server");
    expectFailure({"transcribe", mp3_.string()}, "Motor Whisper não encontrado no pacote do app.");

    EXPECT_EQ(readFile(lastFile()), "anterior");
    expectCleanExit();
}

TEST_F(CliTranscribeTest, AnInterruptedRunRemovesItsConvertedFile) {
    // A bundled converter that writes part of its output and then takes its time.
    const auto ffmpeg = dir_ / "install" / "share" / "quenda" / "bin" / "ffmpeg";
    writeFile(ffmpeg, "#!/bin/sh\nfor last; do :; done\necho parte > \"$last\"\nexec sleep 30\n");
    std::filesystem::permissions(ffmpeg, std::filesystem::perms::owner_all);
    ProcessOptions options;
    options.standardOutput = ProcessOptions::Output::capture;
    options.standardError = ProcessOptions::Output::capture;
    options.environment = environment();
    auto quenda = Process::launch(quenda_, {"--cli", "transcribe", mp3_.string()}, options);
    ASSERT_TRUE(test::waitUntil([&] { return !std::filesystem::is_empty(tmp_); }));
    ::kill(quenda->pid(), SIGINT);
    EXPECT_EQ(quenda->waitForExit(), 1);
    EXPECT_EQ(quenda->standardErrorText(), "ERRO: interrompido\n");
    EXPECT_EQ(quenda->standardOutputText(), "");
    EXPECT_TRUE(std::filesystem::is_empty(tmp_));
    EXPECT_FALSE(std::filesystem::exists(lastFile()));
}

// With the language model: "--clean" and "summarize".
class CliLanguageModelTest : public CliTranscribeTest {};

TEST_F(CliLanguageModelTest, CleanSendsTheTranscriptWithTheCleanupPrompt) {
    test::FakeOllamaServer ollama(dir_.path(), {{"response", "  Um, dois.\n"}});
    auto result = cli({"transcribe", "--clean", mp3_.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Um, dois.\n");
    EXPECT_EQ(readFile(lastFile()), "Um, dois.");
    auto requests = ollama.requests("/api/generate");
    ASSERT_EQ(requests.size(), 1u);
    auto body = nlohmann::json::parse(requests[0]["body"].get<std::string>());
    EXPECT_EQ(body["system"], Prompts::cleanup);
    EXPECT_EQ(body["prompt"], "um dois");
    expectCleanExit();
}

TEST_F(CliLanguageModelTest, CleanWithoutOllamaFailsAndKeepsThePreviousText) {
    writeFile(lastFile(), "anterior");
    expectFailure({"transcribe", mp3_.string(), "--clean"},
                  "Ollama não está rodando. Inicie com: ollama serve (e baixe o modelo com: ollama "
                  "pull llama3.1)");
    EXPECT_EQ(readFile(lastFile()), "anterior");
    expectCleanExit();
}

TEST_F(CliLanguageModelTest, SummarizePrintsTheSummaryOfTheSavedText) {
    test::FakeOllamaServer ollama(dir_.path(), {{"response", "- um\n- dois\n"}});
    expectFailure({"summarize"}, "nenhuma transcrição salva para resumir");
    writeFile(lastFile(), "");
    expectFailure({"summarize"}, "nenhuma transcrição salva para resumir");
    writeFile(lastFile(), "\xC3\x28");
    expectFailure({"summarize", "extra"}, "nenhuma transcrição salva para resumir");
    EXPECT_TRUE(ollama.requests("/api/generate").empty());

    // Only spaces and line breaks are not empty: sent as they are.
    writeFile(lastFile(), " \n ");
    auto result = cli({"summarize", "ignorado"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "- um\n- dois\n");
    auto requests = ollama.requests("/api/generate");
    ASSERT_EQ(requests.size(), 1u);
    auto body = nlohmann::json::parse(requests[0]["body"].get<std::string>());
    EXPECT_EQ(body["system"], Prompts::summary);
    EXPECT_EQ(body["prompt"], " \n ");
    EXPECT_EQ(readFile(lastFile()), " \n ");

    ollama.configure({{"error", "model 'llama3.1' not found"}, {"status", 404}});
    expectFailure({"summarize"}, "Resposta inválida do Ollama: model 'llama3.1' not found");
    EXPECT_TRUE(events("start").empty());
}

}  // namespace
}  // namespace quenda
