#pragma once

#include <string>

namespace quenda {

// One speech model the application knows: a whisper.cpp ggml file and where to download it.
struct ModelInfo {
    std::string id;     // stable identifier, stored in settings and given on the command line
    std::string label;  // display name in Brazilian Portuguese
    std::string file;   // file name inside the models directory
    std::string url;    // download address
    int sizeMB = 0;     // approximate download size

    bool operator==(const ModelInfo&) const = default;
};

}  // namespace quenda
