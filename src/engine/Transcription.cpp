// TranscriptionEngine's inference request: the audio goes to the running server as one
// multipart POST to "/inference" and the answer's text comes back as one clean line.

#include <nlohmann/json.hpp>

#include "engine/MultipartBody.h"
#include "engine/TranscriptionEngine.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "platform/Text.h"
#include "platform/Uuid.h"

namespace quenda {

namespace {

// The text fields and the head of the audio part, with a fresh boundary for this request.
MultipartBody startInferenceBody(std::string_view language) {
    MultipartBody body("Boundary-" + makeUuidText());
    body.addField("response_format", "json");
    body.addField("temperature", "0.0");
    body.addField("language", language);
    body.beginFile("file", "audio.wav", "audio/wav");
    return body;
}

// The server's segments as one line: line breaks deleted (not replaced), runs of spaces made
// single, both ends trimmed.
std::string cleanTranscript(std::string_view text) {
    std::string joined;
    joined.reserve(text.size());
    for (char c : text) {
        if (c == '\r' || c == '\n')
            continue;
        if (c == ' ' && !joined.empty() && joined.back() == ' ')
            continue;
        joined.push_back(c);
    }
    return text::trimWhitespace(joined);
}

}  // namespace

std::string TranscriptionEngine::transcribe(const std::filesystem::path& file,
                                            std::string_view modelID, std::string_view language) {
    std::lock_guard lock(requestMutex_);
    // The server comes first: even a file that cannot be converted waits for the model.
    ensureServer(modelID);
    MultipartBody body = startInferenceBody(language);
    {
        TemporaryFile wav = normalize(file);
        // The body reads the audio from the open file while it is sent (never all of it into
        // memory), so the file's name may go now.
        body.appendFileContents(wav.path());
    }
    body.finish();
    return sendInference(body);
}

std::string TranscriptionEngine::transcribeWavData(std::string_view wavData,
                                                   std::string_view modelID,
                                                   std::string_view language) {
    std::lock_guard lock(requestMutex_);
    ensureServer(modelID);
    return postInference(wavData, language);
}

std::string TranscriptionEngine::postInference(std::string_view wavData,
                                               std::string_view language) {
    MultipartBody body = startInferenceBody(language);
    body.reserve(body.bytes().size() + wavData.size() + body.boundary().size() + 8);
    body.appendBytes(wavData);
    body.finish();
    return sendInference(body);
}

std::string TranscriptionEngine::sendInference(const MultipartBody& body) {
    HttpRequest request;
    request.method = "POST";
    request.url = "http://" + settings_.host + ":" + std::to_string(serverPort()) + "/inference";
    request.headers = {{"Content-Type", body.contentType()}};
    request.bodySize = body.size();
    request.readBody = [&body](uint64_t offset, std::span<char> buffer) {
        return body.read(offset, buffer);
    };
    request.timeout = settings_.inferenceTimeout;
    const HttpResponse response = Http::send(request);

    if (!response.answered())
        throw EngineError::transcriptionFailed(response.transportError);
    if (response.body.empty())
        throw EngineError::transcriptionFailed("resposta vazia");
    // The status is not examined: an answer without a string "text" (such as the server's
    // error object) is reported as it arrived.
    auto answer = nlohmann::json::parse(response.body, nullptr, false);
    if (answer.is_object()) {
        auto text = answer.find("text");
        if (text != answer.end() && text->is_string())
            return cleanTranscript(text->get_ref<const std::string&>());
    }
    throw EngineError::transcriptionFailed(files::isValidUtf8(response.body) ? response.body
                                                                             : "resposta inválida");
}

}  // namespace quenda
