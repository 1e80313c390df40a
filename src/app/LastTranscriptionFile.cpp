#include "app/LastTranscriptionFile.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Uuid.h"

namespace quenda::LastTranscriptionFile {

std::filesystem::path applicationSupportDirectory() {
    const auto base = paths::applicationSupportDirectory();
    const auto directory = base / "Quenda";
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);

    const auto legacy = base / "Brevimo" / kFileName;
    const auto current = directory / kFileName;
    if (std::filesystem::exists(legacy, ignored) && !std::filesystem::exists(current, ignored)) {
        try {
            files::copyFileAtomically(legacy, current);
        } catch (const std::filesystem::filesystem_error&) {
            // The old text is simply not carried over; the legacy file is still there.
        }
    }
    return directory;
}

std::optional<std::string> read() {
    return files::readUtf8File(applicationSupportDirectory() / kFileName);
}

std::optional<std::filesystem::path> setAsideUnreadable() {
    const auto file = applicationSupportDirectory() / kFileName;
    std::error_code error;
    if (!std::filesystem::exists(file, error) || files::readUtf8File(file))
        return std::nullopt;
    auto aside = file;
    aside += ".ilegivel-" + makeUuidText();
    std::filesystem::rename(file, aside, error);
    if (error)
        return std::nullopt;
    // An empty file in its place: the text of earlier versions is not copied in again.
    files::writeFileAtomically(file, "");
    return aside;
}

std::error_code write(std::string_view text) {
    return files::writeFileAtomically(applicationSupportDirectory() / kFileName, text);
}

}  // namespace quenda::LastTranscriptionFile
