#include "llm/OllamaClient.h"

#include <nlohmann/json.hpp>

#include "platform/Files.h"
#include "platform/Http.h"
#include "platform/Text.h"

namespace quenda::OllamaClient {

namespace {

std::string address(std::string_view path) {
    return std::string(baseURL) + "/" + std::string(path);
}

// The generation request, compact JSON. Text that is not valid UTF-8 is sent with U+FFFD in
// place of the broken bytes rather than failing the request.
std::string requestBody(std::string_view system, std::string_view prompt) {
    nlohmann::json body = {
        {"model", modelName},
        {"system", system},
        {"prompt", prompt},
        {"stream", false},
        {"options", {{"temperature", temperature}}},
    };
    return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

bool isAvailable() {
    auto response = Http::get(address("api/version"), availabilityTimeout);
    return response.answered() && response.status == 200;
}

std::string generate(std::string_view system, std::string_view prompt,
                     std::chrono::milliseconds timeout) {
    if (!isAvailable())
        throw OllamaError::offline();

    const std::string body = requestBody(system, prompt);
    HttpRequest request;
    request.method = "POST";
    request.url = address("api/generate");
    request.headers = {{"Content-Type", "application/json"}};
    request.body = body;
    request.timeout = timeout;
    const HttpResponse response = Http::send(request);

    if (!response.answered())
        throw OllamaError::badResponse(response.transportError);
    // The status is not examined: a failing status with an "error" object says why.
    auto answer = nlohmann::json::parse(response.body, nullptr, false);
    if (!answer.is_object())
        throw OllamaError::badResponse("sem dados");
    if (auto text = answer.find("response"); text != answer.end() && text->is_string())
        return text::trimWhitespace(text->get_ref<const std::string&>());
    if (auto error = answer.find("error"); error != answer.end() && error->is_string())
        throw OllamaError::badResponse(error->get<std::string>());
    throw OllamaError::badResponse(files::isValidUtf8(response.body) ? response.body
                                                                     : "desconhecida");
}

}  // namespace quenda::OllamaClient
