// The Ollama client against the fake Ollama on 127.0.0.1:11434.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeServers.h"
#include "llm/OllamaClient.h"
#include "llm/Prompts.h"

namespace quenda {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

OllamaError generateError(std::chrono::milliseconds timeout = 5s) {
    return test::thrown<OllamaError>([&] { OllamaClient::generate("sistema", "texto", timeout); });
}

class OllamaServerTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    test::FakeOllamaServer server_{dir_.path()};
};

TEST_F(OllamaServerTest, APromptTravelsAsCompactEscapedJsonAndTheAnswerIsTrimmed) {
    // Unicode spaces count as white space too (no-break, ideographic).
    server_.configure({{"response", "\n \u00a0\"- um\n- dois\"  \u3000\n"}});
    const std::string prompt = "linha 1\nlinha \"2\"\t\\ ção";
    EXPECT_EQ(OllamaClient::generate(Prompts::summary, prompt, 5s), "\"- um\n- dois\"");
    auto requests = server_.requests("/api/generate");
    ASSERT_EQ(requests.size(), 1u);
    // The summary prompt's quotes and the prompt's line breaks escaped inside their strings.
    EXPECT_EQ(json::parse(requests[0]["body"].get<std::string>()),
              (json{{"model", "llama3.1"},
                    {"system", Prompts::summary},
                    {"prompt", prompt},
                    {"stream", false},
                    {"options", {{"temperature", 0.1}}}}));
}

TEST_F(OllamaServerTest, AVersionAnswerOtherThan200OrTooSlowIsOfflineAndNothingIsGenerated) {
    server_.configure({{"version_status", 500}});
    EXPECT_FALSE(OllamaClient::isAvailable());
    EXPECT_EQ(generateError().kind(), OllamaError::Kind::offline);
    EXPECT_TRUE(server_.requests("/api/generate").empty());
    // A server too slow to say its version within two seconds is not running either. (With no
    // server at all it is offline too: see the command line's --clean.)
    server_.configure({{"version_delay_seconds", 3}});
    EXPECT_FALSE(OllamaClient::isAvailable());
}

TEST_F(OllamaServerTest, EveryBadAnswerOrTransportFailureIsBadResponseWithItsReason) {
    const std::pair<json, std::string> cases[] = {
        {{{"error", "model 'llama3.1' not found"}, {"status", 404}}, "model 'llama3.1' not found"},
        {{{"raw", "isto não é json"}}, "sem dados"},
        {{{"raw", R"({"done":true})"}}, R"({"done":true})"},
        {{{"raw", R"({"response":5})"}}, R"({"response":5})"},
    };
    for (const auto& [settings, reason] : cases) {
        SCOPED_TRACE(settings.dump());
        server_.configure(settings);
        auto error = generateError();
        EXPECT_EQ(error.kind(), OllamaError::Kind::badResponse);
        EXPECT_EQ(std::string(error.what()), "Resposta inválida do Ollama: " + reason);
    }
    server_.configure({{"delay_seconds", 1}});
    auto slow = generateError(500ms);
    EXPECT_EQ(slow.kind(), OllamaError::Kind::badResponse);
    EXPECT_THAT(slow.payload(), ::testing::HasSubstr("timed out"));
}

}  // namespace
}  // namespace quenda
