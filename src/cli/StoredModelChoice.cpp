#include "cli/StoredModelChoice.h"

#include <cstdlib>
#include <fstream>

#include "platform/Paths.h"
#include "platform/Text.h"

namespace quenda {

std::filesystem::path storedSettingsFile() {
    std::filesystem::path config;
    if (const char* configured = std::getenv("XDG_CONFIG_HOME");
        configured && *configured && std::filesystem::path(configured).is_absolute())
        config = configured;
    else
        config = paths::homeDirectory() / ".config";
    return config / "Quenda" / "Quenda.ini";
}

std::optional<std::string> storedModelID() {
    std::ifstream file(storedSettingsFile());
    std::string group;
    for (std::string line; std::getline(file, line);) {
        line = text::trimWhitespace(line);
        if (line.starts_with('[')) {
            group = line;
            continue;
        }
        if (group != "[General]" || !line.starts_with("modelID"))
            continue;
        auto equals = line.find('=');
        if (equals == std::string::npos ||
            text::trimWhitespace(line.substr(0, equals)) != "modelID")
            continue;
        std::string value = text::trimWhitespace(line.substr(equals + 1));
        // QSettings quotes a text that holds special characters.
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (!value.empty())
            return value;
    }
    return std::nullopt;
}

}  // namespace quenda
