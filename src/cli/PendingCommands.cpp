#include "cli/CommandLine.h"
#include "cli/Commands.h"

namespace quenda {

// Transcription and summary from the command line arrive with the inference request and the
// language-model client; until then they say so plainly.
std::string runTranscribeCommand(const std::vector<std::string>&) {
    fail("o comando transcribe ainda não está disponível nesta versão");
}

std::string runSummarizeCommand(const std::vector<std::string>&) {
    fail("o comando summarize ainda não está disponível nesta versão");
}

}  // namespace quenda
