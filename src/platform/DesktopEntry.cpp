#include "platform/DesktopEntry.h"

#include <sys/stat.h>

#include "platform/AtomicFile.h"

namespace {

// The general escapes of a desktop-entry string value.
std::string EscapeString(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    if (!out.empty() && out.front() == ' ') out.replace(0, 1, "\\s");
    return out;
}

// One argument of an Exec line: always quoted, with the characters that are special inside
// quotes escaped and '%' doubled (field codes); the string escapes are applied afterwards.
std::string QuoteExecArgument(const std::string& arg) {
    std::string quoted = "\"";
    for (const char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    return EscapeString(quoted);
}

}  // namespace

std::string DesktopEntryText(const std::filesystem::path& launcherPath,
                             const std::filesystem::path& gameFolder,
                             const std::string& productName) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           EscapeString(productName) +
           "\n"
           "Exec=" +
           QuoteExecArgument(launcherPath.string()) + " --game-dir " +
           QuoteExecArgument(gameFolder.string()) +
           "\n"
           "Path=" +
           EscapeString(gameFolder.string()) +
           "\n"
           "Terminal=false\n";
}

bool CreateDesktopShortcut(const std::filesystem::path& launcherPath,
                           const std::filesystem::path& gameFolder,
                           const DeploymentSettings& settings) {
    std::error_code ec;
    if (settings.DesktopDirectory.empty() ||
        !std::filesystem::is_directory(settings.DesktopDirectory, ec)) {
        return false;
    }
    if (settings.ProductName.empty() || settings.ProductName.find('/') != std::string::npos) {
        return false;
    }
    const std::filesystem::path entry =
        settings.DesktopDirectory / (settings.ProductName + ".desktop");
    if (!WriteFileAtomically(entry,
                             DesktopEntryText(launcherPath, gameFolder, settings.ProductName))) {
        return false;
    }
    // Desktops start only entries that are marked executable.
    ::chmod(entry.c_str(), 0755);
    return true;
}
