// "quenda --cli doctor" run as a user runs it, on the test desktop (Xvfb, PulseAudio), with
// the fake whisper-server bundled beside an installed copy of quenda.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeServers.h"
#include "input/HotkeyManagerX11.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

class DoctorTest : public ::testing::Test {
  protected:
    void SetUp() override { quenda_ = test::installQuendaWithFakeServer(dir_ / "install"); }

    test::ProgramResult doctor(std::vector<std::string> args,
                               std::map<std::string, std::string> extra = {}) const {
        extra.merge(dir_.environment());
        args.insert(args.begin(), {"--cli", "doctor"});
        return test::runProgram(quenda_, args, extra);
    }

    test::SpeechHome dir_;
    fs::path quenda_;
};

// The model comes from the stored choice; the wait is measured with a 5-second clip; a grab of
// Ctrl+Alt+D by another client is the one thing wrong in the first run.
TEST_F(DoctorTest, ReadyDesktopPassesOnceTheShortcutIsFree) {
    test::writeFile(dir_ / "config/Quenda/Quenda.ini", "[General]\nmodelID=base\n");
    dir_.installModel("ggml-base.bin", {"text ok"});
    {
        HotkeyManagerX11 other;
        ASSERT_TRUE(other.install(
            Hotkey::pushToTalk(), [](KeyEventType, int64_t, uint64_t) { return HotkeyDecision{}; },
            nullptr));
        auto taken = doctor({});
        other.remove();
        EXPECT_EQ(taken.status, 1);
        EXPECT_THAT(taken.out, HasSubstr("ERRO  Atalho Ctrl+Alt+D: já usado por outro programa"));
    }
    auto ready = doctor({});
    EXPECT_EQ(ready.status, 0) << ready.out << ready.err;
    EXPECT_THAT(ready.out, HasSubstr("ok    Servidor de fala (whisper-server): " +
                                     (dir_ / "install/share/quenda/bin/whisper-server").string()));
    EXPECT_THAT(ready.out, HasSubstr("ok    Modelo selecionado (base): "));
    EXPECT_THAT(ready.out, HasSubstr("ok    Servidor de som (PulseAudio/PipeWire): fonte padrão "));
    EXPECT_THAT(ready.out, HasSubstr("ok    Atalho Ctrl+Alt+D: livre"));
    EXPECT_THAT(ready.out, HasSubstr("Espera por ditado de 5 s nesta máquina: "));
    EXPECT_TRUE(ready.out.ends_with("Tudo pronto para ditar.\n"));
    // Each run timed a test dictation twice (cold, then warm), sent as a dictation is sent:
    // 5 s in the recorder's format.
    auto requests = dir_.inferences();
    ASSERT_EQ(requests.size(), 4u);
    for (const auto& request : requests)
        EXPECT_NEAR(request["wav"]["seconds"].get<double>(), 5.0, 0.01);
}

TEST_F(DoctorTest, EachMissingPieceIsNamedWithItsFix) {
    // Not executable: the bundled server is not found (and this machine has none elsewhere).
    fs::permissions(dir_ / "install/share/quenda/bin/whisper-server", fs::perms::all,
                    fs::perm_options::remove);
    auto result = doctor({}, {{"DISPLAY", ""}, {"PULSE_SERVER", "unix:/nonexistent/native"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "ERRO: o ditado ainda não funciona: corrija os itens marcados com ERRO\n");
    for (const char* line : {
             "ERRO  Servidor de fala (whisper-server): não encontrado — para corrigir: "
             "scripts/install-whisper-server\n",
             "ERRO  Modelo selecionado (large-v3-turbo): não instalado — para corrigir: ",
             "ERRO  Servidor de som (PulseAudio/PipeWire): inacessível — para corrigir: ",
             "ERRO  Tela X11 com XTest (colar o texto): DISPLAY não definido — para corrigir: ",
             "ERRO  Atalho Ctrl+Alt+D: sem tela X11 não há como registrá-lo\n",
         })
        EXPECT_THAT(result.out, HasSubstr(line));
    EXPECT_THAT(result.out, Not(HasSubstr("Espera por")));

    auto unknown = doctor({"--model", "tiny"});
    EXPECT_THAT(unknown.out, HasSubstr("ERRO  Modelo selecionado (tiny): modelo desconhecido"));
    EXPECT_EQ(doctor({"--model"}).err, "ERRO: --model requer valor\n");
}

}  // namespace
}  // namespace quenda
