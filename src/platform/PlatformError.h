#pragma once

#include <stdexcept>
#include <string>

namespace quenda {

// An error of a platform-backed component: a domain named after the component ("Recorder"),
// a numeric code, and a Portuguese description that is all the user sees.
class PlatformError : public std::runtime_error {
  public:
    PlatformError(std::string domain, int code, const std::string& description)
        : std::runtime_error(description), domain_(std::move(domain)), code_(code) {}

    const std::string& domain() const { return domain_; }
    int code() const { return code_; }
    std::string description() const { return what(); }

  private:
    std::string domain_;
    int code_;
};

}  // namespace quenda
