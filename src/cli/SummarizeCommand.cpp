// "summarize": a bullet summary of the last saved transcription, printed and not saved.

#include "app/LastTranscriptionFile.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "llm/OllamaClient.h"
#include "llm/Prompts.h"

namespace quenda {

std::string runSummarizeCommand(const std::vector<std::string>&) {
    // Text made only of spaces or line breaks is not empty and is sent as it is.
    const auto saved = LastTranscriptionFile::read();
    if (!saved || saved->empty())
        fail("nenhuma transcrição salva para resumir");
    try {
        return OllamaClient::generate(Prompts::summary, *saved, std::chrono::seconds(600));
    } catch (const std::exception& failure) {
        fail(failure.what());
    }
}

}  // namespace quenda
