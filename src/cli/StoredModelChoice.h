#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quenda {

// The file the windowed application keeps its stored choices in (QSettings' INI file for
// "Quenda"/"Quenda": $XDG_CONFIG_HOME/Quenda/Quenda.ini, by default under ~/.config).
std::filesystem::path storedSettingsFile();

// The model the user chose in the application ("modelID" in that file's [General] group), read
// without Qt; nothing when no choice is stored.
std::optional<std::string> storedModelID();

}  // namespace quenda
