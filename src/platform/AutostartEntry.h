#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace quenda {

// The XDG autostart entry that starts the application at login, hidden in the tray:
// "<id>.desktop" in $XDG_CONFIG_HOME/autostart (when that is an absolute path, else
// ~/.config/autostart). The entry exists exactly while starting at login is chosen.
class AutostartEntry {
  public:
    // `program` is the executable the entry runs, with --start-hidden.
    AutostartEntry(std::string applicationId, std::filesystem::path program);

    std::filesystem::path path() const;
    bool isEnabled() const;

    // Writes the entry atomically (creating the folder); writing it again replaces it.
    std::error_code enable() const;
    // Removes the entry; no entry is no error.
    std::error_code disable() const;

    // The entry's text.
    std::string contents() const;

  private:
    std::string applicationId_;
    std::filesystem::path program_;
};

}  // namespace quenda
