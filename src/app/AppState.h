#pragma once

#include <filesystem>

#include "app/LastTranscriptionFile.h"

namespace quenda {

// The application's central state. For now only its static side exists, which the command
// line uses without creating an instance.
class AppState {
  public:
    // The "Quenda" application-support directory (created, legacy text migrated on every call).
    static std::filesystem::path appSupportDir() {
        return LastTranscriptionFile::applicationSupportDirectory();
    }
};

}  // namespace quenda
