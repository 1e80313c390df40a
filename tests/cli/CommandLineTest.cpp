// The command line as a user runs it: the built quenda program, its exact output bytes and
// exit statuses.

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace quenda {
namespace {

using test::TempDir;

class CommandLine : public ::testing::Test {
  protected:
    TempDir data;
    std::filesystem::path lastFile() { return data / "Quenda" / "ultima_transcricao.txt"; }
    test::ProgramResult quenda(const std::vector<std::string>& arguments) {
        return test::runProgram(
            QUENDA_EXECUTABLE, arguments,
            {{"XDG_DATA_HOME", data.path().string()}, {"HOME", data.path().string()}});
    }
    static void expectFailure(const test::ProgramResult& result, const std::string& message) {
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "ERRO: " + message + "\n");
    }
};

TEST_F(CommandLine, UsageAndUnknownCommands) {
    expectFailure(quenda({"--cli"}),
                  "uso: --cli transcribe <arquivo> [--model <id>] [--clean] | --cli summarize | "
                  "--cli last");
    expectFailure(quenda({"--cli", "LAST"}), "comando desconhecido: LAST");
    expectFailure(quenda({"--cli", ""}), "comando desconhecido: ");
    expectFailure(quenda({"--cli", "resumo", "last"}), "comando desconhecido: resumo");
}

TEST_F(CommandLine, LastPrintsTheSavedTextWithOneLineFeed) {
    auto empty = quenda({"--cli", "last"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "\n");
    EXPECT_EQ(empty.err, "");
    EXPECT_TRUE(std::filesystem::is_directory(data / "Quenda"));

    test::writeFile(lastFile(), "Ação em duas\nlinhas");
    auto saved = quenda({"--cli", "last", "--model", "base", "ignorado"});
    EXPECT_EQ(saved.status, 0);
    EXPECT_EQ(saved.out, "Ação em duas\nlinhas\n");
    EXPECT_EQ(saved.err, "");

    test::writeFile(lastFile(), "ol\xE1");  // not UTF-8: treated as nothing saved
    EXPECT_EQ(quenda({"--cli", "last"}).out, "\n");
}

TEST_F(CommandLine, LastMigratesTheLegacyTextOnFirstUse) {
    test::writeFile(data / "Brevimo" / "ultima_transcricao.txt", "de antes");
    auto result = quenda({"--cli", "last"});
    EXPECT_EQ(result.out, "de antes\n");
    EXPECT_EQ(test::readFile(lastFile()), "de antes");
    EXPECT_TRUE(std::filesystem::exists(data / "Brevimo" / "ultima_transcricao.txt"));
}

TEST_F(CommandLine, OnlyTheFirstArgumentSelectsTheCommandLine) {
    for (const auto& arguments :
         {std::vector<std::string>{}, std::vector<std::string>{"last", "--cli"},
          std::vector<std::string>{"--CLI", "last"}}) {
        auto result = quenda(arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "quenda: a janela ainda não foi construída; use quenda --cli\n");
    }
}

}  // namespace
}  // namespace quenda
