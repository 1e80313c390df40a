// TranscriptionEngine's inference request: the audio goes to the running server as one
// multipart POST to "/inference" and the answer's text comes back as one clean line. In fast
// mode the request also names a window sized to the audio, and an answer that looks like that
// window's failure is asked for again with the full window.

#include <fstream>
#include <nlohmann/json.hpp>

#include "engine/MultipartBody.h"
#include "engine/ShortWindow.h"
#include "engine/TranscriptionEngine.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "platform/Text.h"
#include "platform/Uuid.h"
#include "platform/WavFormat.h"

namespace quenda {

namespace {

// The text fields and the head of the audio part, with a fresh boundary for this request.
// `audioContext`, when given, is the model's audio window in encoder frames.
MultipartBody startInferenceBody(std::string_view language, std::optional<int> audioContext) {
    MultipartBody body("Boundary-" + makeUuidText());
    body.addField("response_format", "json");
    body.addField("temperature", "0.0");
    body.addField("language", language);
    if (audioContext)
        body.addField("audio_ctx", std::to_string(*audioContext));
    body.beginFile("file", "audio.wav", "audio/wav");
    return body;
}

// Asks `post` for the transcript of the audio `wav` describes: with the server's own window,
// or in fast mode with one sized to the audio and, when that answer looks like its failure,
// once more with the full window.
template <typename Post>
std::string inferWithWindow(const std::optional<WavInfo>& wav, const TranscriptionOptions& options,
                            const Post& post) {
    std::optional<int> window;
    double seconds = 0;
    if (options.fast && wav && wav->channels > 0 && wav->bitsPerSample >= 8) {
        window = shortwindow::audioContext(
            wav->dataBytes / (wav->channels * (wav->bitsPerSample / 8)), wav->sampleRate);
        if (window)
            seconds = wav->seconds();
    }
    std::string text = post(window);
    if (window && shortwindow::looksLikeFailure(text, seconds, options.hasSound))
        text = post(std::nullopt);
    return text;
}

// The description of a converted file short enough for a sized window, read whole (at most
// about a megabyte); nothing for a longer or unreadable one.
std::optional<WavInfo> shortWavFile(const std::filesystem::path& path) {
    constexpr uintmax_t kLongest = 16000 * 2 * 30 + 4096;
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > kLongest)
        return std::nullopt;
    std::string bytes(size, '\0');
    std::ifstream stream(path, std::ios::binary);
    if (!stream.read(bytes.data(), static_cast<std::streamsize>(size)))
        return std::nullopt;
    return parseWav(bytes);
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
                                            std::string_view modelID, std::string_view language,
                                            const TranscriptionOptions& options) {
    std::lock_guard lock(requestMutex_);
    // The server comes first: even a file that cannot be converted waits for the model.
    ensureServer(modelID);
    TemporaryFile wav = normalize(file);
    const auto info = options.fast ? shortWavFile(wav.path()) : std::nullopt;
    return inferWithWindow(info, options, [&](std::optional<int> audioContext) {
        MultipartBody body = startInferenceBody(language, audioContext);
        // The body reads the audio from the open file while it is sent, never all of it into
        // memory.
        body.appendFileContents(wav.path());
        body.finish();
        return sendInference(body);
    });
}

std::string TranscriptionEngine::transcribeWavData(std::string_view wavData,
                                                   std::string_view modelID,
                                                   std::string_view language,
                                                   const TranscriptionOptions& options) {
    std::lock_guard lock(requestMutex_);
    ensureServer(modelID);
    const auto info = options.fast ? parseWav(wavData) : std::nullopt;
    return inferWithWindow(info, options, [&](std::optional<int> audioContext) {
        return postInference(wavData, language, audioContext);
    });
}

std::string TranscriptionEngine::postInference(std::string_view wavData, std::string_view language,
                                               std::optional<int> audioContext) {
    MultipartBody body = startInferenceBody(language, audioContext);
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
