#pragma once

#include <exception>
#include <string>

namespace quenda {

// The one error type of every engine operation. Its description is the Portuguese text the
// user sees; there is no other reason, suggestion or code.
class EngineError : public std::exception {
  public:
    enum class Kind {
        modelNotFound,        // payload: model identifier or model file name
        unsupportedFile,      // payload: the input's file name
        needsFFmpeg,          // payload: "." + lower-cased extension
        conversionFailed,     // payload: the converter's diagnostic text
        serverFailed,         // payload: the reason
        transcriptionFailed,  // payload: the reason
        whisperNotFound,      // no payload
    };

    static EngineError modelNotFound(std::string payload) {
        return {Kind::modelNotFound, std::move(payload)};
    }
    static EngineError unsupportedFile(std::string fileName) {
        return {Kind::unsupportedFile, std::move(fileName)};
    }
    static EngineError needsFFmpeg(std::string dottedExtension) {
        return {Kind::needsFFmpeg, std::move(dottedExtension)};
    }
    static EngineError conversionFailed(std::string diagnostic) {
        return {Kind::conversionFailed, std::move(diagnostic)};
    }
    static EngineError serverFailed(std::string reason) {
        return {Kind::serverFailed, std::move(reason)};
    }
    static EngineError transcriptionFailed(std::string reason) {
        return {Kind::transcriptionFailed, std::move(reason)};
    }
    static EngineError whisperNotFound() { return {Kind::whisperNotFound, {}}; }

    Kind kind() const { return kind_; }
    const std::string& payload() const { return payload_; }
    const std::string& errorDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const EngineError& other) const {
        return kind_ == other.kind_ && payload_ == other.payload_;
    }

  private:
    EngineError(Kind kind, std::string payload);

    Kind kind_;
    std::string payload_;
    std::string description_;
};

}  // namespace quenda
