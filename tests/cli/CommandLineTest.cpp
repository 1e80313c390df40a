// The command line as a user runs it: the built quenda program, its exact output bytes and
// exit statuses.

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace quenda {
namespace {

class CommandLine : public ::testing::Test {
  protected:
    test::TestHome home;
    std::filesystem::path data = home.data();
    std::filesystem::path lastFile = data / "Quenda/ultima_transcricao.txt";
    void expect(const std::vector<std::string>& arguments, int status, const std::string& out,
                const std::string& err) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        auto result = test::runProgram(QUENDA_EXECUTABLE, arguments, home.environment());
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, err);
    }
};

TEST_F(CommandLine, UsageAndUnknownCommands) {
    expect({"--cli"}, 1, "",
           "ERRO: uso: --cli transcribe <arquivo> [--model <id>] [--clean] | --cli summarize | "
           "--cli last | --cli doctor [--model <id>]\n");
    expect({"--cli", "LAST"}, 1, "", "ERRO: comando desconhecido: LAST\n");
    expect({"--cli", ""}, 1, "", "ERRO: comando desconhecido: \n");
    expect({"--cli", "resumo", "last"}, 1, "", "ERRO: comando desconhecido: resumo\n");
}

TEST_F(CommandLine, LastPrintsTheSavedTextWithOneLineFeed) {
    expect({"--cli", "last"}, 0, "\n", "");
    EXPECT_TRUE(std::filesystem::is_directory(data / "Quenda"));
    test::writeFile(lastFile, "Ação em duas\nlinhas");
    expect({"--cli", "last", "--model", "base", "ignorado"}, 0, "Ação em duas\nlinhas\n", "");
    test::writeFile(lastFile, "ol\xE1");  // not UTF-8: treated as nothing saved
    expect({"--cli", "last"}, 0, "\n", "");
}

TEST_F(CommandLine, LastMigratesTheLegacyTextOnFirstUse) {
    test::writeFile(data / "Brevimo/ultima_transcricao.txt", "de antes");
    expect({"--cli", "last"}, 0, "de antes\n", "");
    EXPECT_EQ(test::readFile(lastFile), "de antes");
    EXPECT_TRUE(std::filesystem::exists(data / "Brevimo/ultima_transcricao.txt"));
}

}  // namespace
}  // namespace quenda
