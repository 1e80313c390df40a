// "quenda --cli transcribe" and "quenda --cli summarize" run as a user runs them: an installed
// copy of quenda whose bundled whisper-server is the fake, the real ffmpeg, and the fake Ollama.

#include <signal.h>

#include <gtest/gtest.h>

#include "FakeServers.h"
#include "TestAudio.h"
#include "llm/Prompts.h"
#include "platform/Process.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

class CliTranscribeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        quenda_ = test::installQuendaWithFakeServer(dir_ / "install");
        dir_.installModel("ggml-large-v3-turbo.bin", {"text um|dois"});
        dir_.installModel("ggml-base.bin", {"text base"});
        test::makeSpeech(speech_, "um dois");
        test::convertAudio(speech_, mp3_);
    }
    // Runs "quenda --cli <args>": it prints `out` and ends with status 0, or, given an error
    // message, prints nothing and ends with status 1 and exactly that message.
    void expectOutput(std::vector<std::string> args, const std::string& out,
                      const std::string& error = {}) const {
        args.insert(args.begin(), "--cli");
        auto result = test::runProgram(quenda_, args, dir_.environment());
        EXPECT_EQ(result.status, error.empty() ? 0 : 1) << result.err;
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, error.empty() ? "" : "ERRO: " + error + "\n");
    }
    void expectFailure(const std::vector<std::string>& args, const std::string& message) const {
        expectOutput(args, "", message);
    }
    // Every server is gone, and quenda left no converted file behind. (How the engine stops
    // its server is pinned by the engine's tests.)
    void expectCleanExit() const {
        for (const int pid : dir_.serverPids())
            EXPECT_TRUE(test::waitUntil([pid] { return !test::processAlive(pid); }));
        EXPECT_TRUE(fs::is_empty(dir_.tmp()));
    }
    // `ollama` was asked for one generation, with this system prompt and this prompt.
    static void expectGeneration(const test::FakeOllamaServer& ollama, std::string_view system,
                                 const std::string& prompt) {
        const auto requests = ollama.requests("/api/generate");
        ASSERT_EQ(requests.size(), 1u);
        const auto body = nlohmann::json::parse(requests[0]["body"].get<std::string>());
        EXPECT_EQ(body["system"], system);
        EXPECT_EQ(body["prompt"], prompt);
    }

    test::SpeechHome dir_;
    fs::path speech_ = dir_ / "fala.wav";
    fs::path mp3_ = dir_ / "fala.mp3";
    fs::path lastFile_ = dir_.lastText();
    fs::path quenda_;
};

TEST_F(CliTranscribeTest, TranscribesSavesPrintsAndStopsTheServerWithOptionsInAnyOrder) {
    // The default model's answer, saved: "last" prints it (and ignores what follows it).
    expectOutput({"transcribe", mp3_.string()}, "um dois\n");
    expectOutput({"last", "--model", "base", "ignorado"}, "um dois\n");

    // The last path wins.
    const auto ogg = (dir_ / "tom.ogg").string();
    test::makeTone(ogg, 2.5);
    expectOutput({"transcribe", "--model", "base", mp3_.string(), ogg}, "base\n");
    expectOutput({"transcribe", mp3_.string(), "--model", "base", ogg}, "base\n");
    expectOutput({"transcribe", mp3_.string(), ogg, "--fast", "--model", "base"}, "base\n");
    // Only --fast adds the audio window: 2.5 s are 125 frames and the margin.
    EXPECT_EQ(dir_.audioWindows(), (std::vector<std::string>{"", "", "", "253"}));
    for (size_t i = 1; i < 4; ++i)
        EXPECT_NEAR(dir_.inferences().at(i)["wav"]["seconds"].get<double>(), 2.5, 0.05);
    // (Names that look like options: "--verbose" below is taken as a file, and the engine's
    // tests convert relative names with dashes, spaces and accents.)
    expectCleanExit();
}

TEST_F(CliTranscribeTest, UsageAndArgumentErrorsStartNoServer) {
    expectFailure({},
                  "uso: --cli transcribe <arquivo> [--model <id>] [--clean] | --cli summarize | "
                  "--cli last | --cli doctor [--model <id>]");
    expectFailure({"LAST"}, "comando desconhecido: LAST");
    expectOutput({"last"}, "\n");  // nothing saved yet
    expectFailure({"transcribe"}, "informe o arquivo de áudio");
    expectFailure({"transcribe", "--clean"}, "informe o arquivo de áudio");
    expectFailure({"transcribe", mp3_.string(), "--model"}, "--model requer valor");
    expectFailure({"transcribe", mp3_.string(), "--verbose"}, "arquivo não existe: --verbose");
    expectFailure({"transcribe", ""}, "arquivo não existe: ");
    EXPECT_TRUE(dir_.events("start").empty());
    EXPECT_FALSE(fs::exists(lastFile_));
}

TEST_F(CliTranscribeTest, EngineFailuresAreReportedExactlyAndChangeNothing) {
    writeFile(lastFile_, "anterior");
    writeFile(dir_ / "notas.txt", "não é áudio");
    expectFailure({"transcribe", mp3_.string(), "--model", "nao-existe"},
                  "Modelo ainda não baixado: nao-existe. Use o botão de download na janela.");
    EXPECT_TRUE(dir_.events("start").empty());
    expectFailure({"transcribe", (dir_ / "notas.txt").string()},
                  "Arquivo não suportado: notas.txt. Use .opus, .ogg, .m4a, .mp3, .wav, .aiff ou "
                  ".flac.");
    EXPECT_EQ(dir_.events("start").size(), 1u);  // the server comes first, even for that file

    // Converted, then refused by the server: the converted file goes too.
    dir_.installModel("ggml-base.bin", {"inference_body {\"error\":\"failed to process audio\"}"});
    expectFailure({"transcribe", "--model", "base", mp3_.string()},
                  "Falha na transcrição: {\"error\":\"failed to process audio\"}");
    dir_.installModel("ggml-base.bin", {"exit_after_load 3"});
    expectFailure({"transcribe", "--model", "base", mp3_.string()},
                  "Falha ao iniciar o motor Whisper: processo encerrou ao carregar o modelo");
    fs::remove(dir_.models() / "ggml-large-v3-turbo.bin");
    expectFailure({"transcribe", mp3_.string()},
                  "Modelo ainda não baixado: ggml-large-v3-turbo.bin. Use o botão de download na "
                  "janela.");
    fs::remove(dir_ / "install/share/quenda/bin/whisper-server");
    expectFailure({"transcribe", mp3_.string()},
                  "Motor Whisper não encontrado na instalação do Quenda.");
    EXPECT_EQ(readFile(lastFile_), "anterior");
    expectCleanExit();
}

TEST_F(CliTranscribeTest, AnEndedRunLeavesNoServerAndAnInterruptedOneNoConvertedFile) {
    // quenda is ended while it waits for a server that takes its time to load, or while a
    // bundled converter, once the server answers, has written part of its output and sleeps.
    const auto ffmpeg = dir_ / "install/share/quenda/bin/ffmpeg";
    const std::string slowConverter =
        "#!/bin/sh\nfor last; do :; done\necho parte > \"$last\"\nexec sleep 30\n";
    // SIGTERM is not sent while converting: under ThreadSanitizer the converter's finished
    // stderr reader can then be reported as a leaked thread of the program under test.
    // SIGKILL stands for every end without clean-up (a crash too): no handler runs.
    const std::pair<int, bool> runs[] = {
        {SIGINT, true}, {SIGINT, false}, {SIGTERM, false}, {SIGKILL, true}, {SIGKILL, false}};
    for (const auto& [signalNumber, converting] : runs) {
        SCOPED_TRACE(testing::Message() << signalNumber << (converting ? " converting" : ""));
        fs::remove(dir_.record());
        fs::remove(ffmpeg);
        dir_.installModel("ggml-base.bin", {converting ? "" : "load_seconds 30"});
        if (converting) {
            writeFile(ffmpeg, slowConverter);
            fs::permissions(ffmpeg, fs::perms::owner_all);
        }
        const auto capture = ProcessOptions::Output::capture;
        auto quenda =
            Process::launch(quenda_, {"--cli", "transcribe", "--model", "base", mp3_.string()},
                            {capture, capture, dir_.environment()});
        ASSERT_TRUE(test::waitUntil([&] {
            return converting ? !dir_.events("listening").empty() && !fs::is_empty(dir_.tmp())
                              : !dir_.events("start").empty();
        }));
        ::kill(quenda->pid(), signalNumber);
        const int status = quenda->waitForExit();
        const int server = dir_.events("start").at(0)["pid"];
        EXPECT_TRUE(test::waitUntil([&] { return !test::processAlive(server); }))
            << "the server outlived its application";
        if (signalNumber == SIGINT || signalNumber == SIGTERM) {
            EXPECT_EQ(status, 1);
            EXPECT_EQ(quenda->standardErrorText(), "ERRO: interrompido\n");
            EXPECT_EQ(quenda->standardOutputText(), "");
            EXPECT_TRUE(fs::is_empty(dir_.tmp()));
        }
        for (const auto& entry : fs::directory_iterator(dir_.tmp()))
            fs::remove(entry);
    }
    EXPECT_FALSE(fs::exists(lastFile_));
}

TEST_F(CliTranscribeTest, CleanNeedsOllamaAndSendsTheTranscriptWithTheCleanupPrompt) {
    writeFile(lastFile_, "anterior");
    expectFailure({"transcribe", mp3_.string(), "--clean"},
                  "Ollama não está rodando. Inicie com: ollama serve (e baixe o modelo com: ollama "
                  "pull llama3.1)");
    EXPECT_EQ(readFile(lastFile_), "anterior");

    test::FakeOllamaServer ollama(dir_.path(), {{"response", "  Um, dois.\n"}});
    expectOutput({"transcribe", "--clean", mp3_.string()}, "Um, dois.\n");
    EXPECT_EQ(readFile(lastFile_), "Um, dois.");
    expectGeneration(ollama, Prompts::cleanup, "um dois");
    expectCleanExit();
}

TEST_F(CliTranscribeTest, SummarizePrintsTheSummaryOfTheSavedText) {
    test::FakeOllamaServer ollama(dir_.path(), {{"response", "- um\n- dois\n"}});
    const std::string nothing = "nenhuma transcrição salva para resumir";
    expectFailure({"summarize"}, nothing);
    writeFile(lastFile_, "");
    expectFailure({"summarize"}, nothing);
    EXPECT_TRUE(ollama.requests("/api/generate").empty());

    // Only spaces and line breaks are not empty: sent as they are.
    writeFile(lastFile_, " \n ");
    expectOutput({"summarize", "ignorado"}, "- um\n- dois\n");
    expectGeneration(ollama, Prompts::summary, " \n ");
    EXPECT_EQ(readFile(lastFile_), " \n ");

    ollama.configure({{"error", "model 'llama3.1' not found"}, {"status", 404}});
    expectFailure({"summarize"}, "Resposta inválida do Ollama: model 'llama3.1' not found");
    EXPECT_TRUE(dir_.events("start").empty());
}

}  // namespace
}  // namespace quenda
