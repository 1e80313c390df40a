#include "platform/AutostartEntry.h"

#include <cstdlib>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace quenda {

namespace {

// The program as one argument of an Exec key: bare when it holds only plain characters, else
// quoted with the characters the Exec syntax reserves escaped; then the desktop file's own
// escaping of backslashes (a string value) and of field codes ("%").
std::string execArgument(const std::string& program) {
    const bool plain = program.find_first_not_of(
                           "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuv"
                           "wxyz0123456789/._+-") == std::string::npos;
    std::string argument;
    if (plain) {
        argument = program;
    } else {
        argument = "\"";
        for (const char c : program) {
            if (c == '"' || c == '`' || c == '$' || c == '\\')
                argument += '\\';
            argument += c;
        }
        argument += '"';
    }
    std::string value;
    for (const char c : argument) {
        if (c == '\\')
            value += '\\';
        else if (c == '%')
            value += '%';
        value += c;
    }
    return value;
}

// A string value of the desktop file: backslashes doubled.
std::string stringValue(const std::string& text) {
    std::string value;
    for (const char c : text) {
        if (c == '\\')
            value += '\\';
        value += c;
    }
    return value;
}

std::filesystem::path autostartDirectory() {
    if (const char* configured = std::getenv("XDG_CONFIG_HOME");
        configured && std::filesystem::path(configured).is_absolute())
        return std::filesystem::path(configured) / "autostart";
    return paths::homeDirectory() / ".config" / "autostart";
}

}  // namespace

AutostartEntry::AutostartEntry(std::string applicationId, std::filesystem::path program)
    : applicationId_(std::move(applicationId)), program_(std::move(program)) {}

std::filesystem::path AutostartEntry::path() const {
    return autostartDirectory() / (applicationId_ + ".desktop");
}

bool AutostartEntry::isEnabled() const {
    std::error_code error;
    return std::filesystem::exists(path(), error);
}

std::string AutostartEntry::contents() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quenda\n"
           "Exec=" +
           execArgument(program_.string()) +
           " --start-hidden\n"
           // Without the program (uninstalled, or a build tree removed) the entry is ignored.
           "TryExec=" +
           stringValue(program_.string()) + "\n" + "Icon=" + applicationId_ + "\n" +
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::error_code AutostartEntry::enable() const {
    // A line break cannot be written in a desktop file's Exec key.
    if (program_.string().find_first_of("\n\r") != std::string::npos)
        return std::make_error_code(std::errc::invalid_argument);
    std::error_code error;
    std::filesystem::create_directories(path().parent_path(), error);
    if (error)
        return error;
    return files::writeFileAtomically(path(), contents());
}

std::error_code AutostartEntry::disable() const {
    std::error_code error;
    std::filesystem::remove(path(), error);
    return error;
}

}  // namespace quenda
