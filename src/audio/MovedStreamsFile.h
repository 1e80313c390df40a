#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace quenda::audio {

// Remembers, outside the process, which playback streams the capture moved and the sink each
// one came from, so that a later run can put them back if this one dies before it can.
// The file is JSON: {"streams": [{"index": 12, "sink": "alsa_output.pci..."}]}.
class MovedStreamsFile {
  public:
    // Sink-input index → name of the sink it played into before it was moved.
    using Streams = std::map<uint32_t, std::string>;

    explicit MovedStreamsFile(std::filesystem::path path);

    // $XDG_RUNTIME_DIR (the login session's, cleared at log-out) or else the temporary
    // directory, with a name of its own per user.
    static std::filesystem::path defaultPath();

    const std::filesystem::path& path() const { return path_; }

    // Replaces the file atomically; returns false when it could not be written.
    bool save(const Streams& streams) const;
    // What the file holds; nothing for a missing or damaged file.
    Streams load() const;
    void remove() const;

  private:
    std::filesystem::path path_;
};

}  // namespace quenda::audio
