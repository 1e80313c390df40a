#pragma once

#include <exception>
#include <string>

namespace quenda {

// The one error type of the language-model client. Its description is the Portuguese text the
// user sees; there is no other reason, suggestion or code.
class OllamaError : public std::exception {
  public:
    enum class Kind {
        offline,      // the server does not answer its version request
        badResponse,  // payload: what went wrong with the generation
    };

    static OllamaError offline() { return {Kind::offline, {}}; }
    static OllamaError badResponse(std::string reason) {
        return {Kind::badResponse, std::move(reason)};
    }

    Kind kind() const { return kind_; }
    const std::string& payload() const { return payload_; }
    const std::string& errorDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

  private:
    OllamaError(Kind kind, std::string payload);

    Kind kind_;
    std::string payload_;
    std::string description_;
};

}  // namespace quenda
