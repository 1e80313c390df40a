#pragma once

#include <string>

namespace quenda::doctor {

// Starts the speech server with `modelID`, transcribes five seconds of synthesised Portuguese
// speech twice (the second time with the server warm), and returns the lines that tell the expected
// wait per 5-second dictation on this machine (and a quicker model when that wait is long). Throws
// what the engine throws.
std::string timeTestDictation(const std::string& modelID);

}  // namespace quenda::doctor
