#include "audio/MovedStreamsFile.h"

#include "platform/Files.h"
#include "platform/Paths.h"

#include <unistd.h>

#include <cstdlib>

#include <nlohmann/json.hpp>

namespace quenda::audio {

MovedStreamsFile::MovedStreamsFile(std::filesystem::path path) : path_(std::move(path)) {}

std::filesystem::path MovedStreamsFile::defaultPath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::filesystem::path directory(runtime);
        if (directory.is_absolute())
            return directory / "quenda-moved-streams.json";
    }
    return paths::temporaryDirectory() /
           ("quenda-moved-streams-" + std::to_string(::getuid()) + ".json");
}

bool MovedStreamsFile::save(const Streams& streams) const {
    auto list = nlohmann::json::array();
    for (const auto& [index, sink] : streams)
        list.push_back({{"index", index}, {"sink", sink}});
    const nlohmann::json document = {{"streams", list}};
    return !files::writeFileAtomically(path_, document.dump());
}

MovedStreamsFile::Streams MovedStreamsFile::load() const {
    Streams streams;
    const auto text = files::readUtf8File(path_);
    if (!text)
        return streams;
    const auto document = nlohmann::json::parse(*text, nullptr, false);
    if (!document.is_object() || !document.contains("streams") || !document["streams"].is_array())
        return streams;
    for (const auto& entry : document["streams"]) {
        if (entry.is_object() && entry.contains("index") && entry["index"].is_number_unsigned() &&
            entry.contains("sink") && entry["sink"].is_string())
            streams[entry["index"].get<uint32_t>()] = entry["sink"].get<std::string>();
    }
    return streams;
}

void MovedStreamsFile::remove() const {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

}  // namespace quenda::audio
