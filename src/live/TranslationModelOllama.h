#pragma once

#include "live/TranslationModel.h"
#include "llm/OllamaClient.h"
#include "llm/Prompts.h"

namespace quenda::live {

// The live translator's language model: the local Ollama server with the shared translation
// prompt as its system text.
class TranslationModelOllama : public TranslationModel {
  public:
    bool isAvailable() override { return OllamaClient::isAvailable(); }
    std::string translate(const std::string& text, std::chrono::seconds timeout) override {
        return OllamaClient::generate(Prompts::translation, text, timeout);
    }
};

}  // namespace quenda::live
