#pragma once

#include <string>
#include <vector>

namespace quenda {

// The command-line commands. Each takes the whole argument list (command word first) and
// returns the text to print, or ends through fail().
std::string runTranscribeCommand(const std::vector<std::string>& args);
std::string runSummarizeCommand(const std::vector<std::string>& args);
std::string runLastCommand(const std::vector<std::string>& args);
std::string runDoctorCommand(const std::vector<std::string>& args);

}  // namespace quenda
