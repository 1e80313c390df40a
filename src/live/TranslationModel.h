#pragma once

#include <chrono>
#include <string>

namespace quenda::live {

// The language model as the live translator uses it: a quick check that it answers, and one
// blocking translation of a transcript into Brazilian Portuguese. Failures are thrown as
// exceptions whose what() is the text shown to the user.
class TranslationModel {
  public:
    virtual ~TranslationModel() = default;

    virtual bool isAvailable() = 0;
    // The model's answer, trimmed at both ends (possibly empty).
    virtual std::string translate(const std::string& text, std::chrono::seconds timeout) = 0;
};

}  // namespace quenda::live
