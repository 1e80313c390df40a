#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "llm/OllamaError.h"

namespace quenda {

// The application's whole interface to the local Ollama server: a liveness check and one
// blocking generation with the model "llama3.1". No state, no connection kept; calls are
// independent and may come from any thread except a user-interface thread (they block).
namespace OllamaClient {

inline constexpr std::string_view baseURL = "http://127.0.0.1:11434";
inline constexpr std::string_view modelName = "llama3.1";
inline constexpr double temperature = 0.1;
inline constexpr std::chrono::seconds availabilityTimeout{2};

// True when the server answers GET "api/version" with status 200 within 2 seconds.
bool isAvailable();

// Sends `system` and `prompt` to the model and returns its answer, trimmed at both ends.
// Throws OllamaError::offline when the server is not available (nothing else is sent then),
// OllamaError::badResponse when the generation fails or takes longer than `timeout`.
std::string generate(std::string_view system, std::string_view prompt,
                     std::chrono::milliseconds timeout);

}  // namespace OllamaClient

}  // namespace quenda
