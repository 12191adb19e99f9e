#include "VersionRemoval.h"

#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "VersionLabel.h"
#include "platform/AtomicFile.h"

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// Where the last non-blank line of the list starts; every byte before it stays as it was.
std::size_t LastLineStart(const std::string& text, std::string* line) {
    std::size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ' ||
                       text[end - 1] == '\t')) {
        --end;
    }
    const std::size_t newline = end == 0 ? std::string::npos : text.rfind('\n', end - 1);
    const std::size_t start = newline == std::string::npos ? 0 : newline + 1;
    *line = text.substr(start, end - start);
    return start;
}

}  // namespace

RemoveResult RemoveNewestVersion(const fs::path& repository, const std::string& label,
                                 const std::string& versionFile) {
    RemoveResult result;
    const fs::path listFile = repository / versionFile;
    std::string error;
    const auto entries = ReadVersionListFile(listFile, error);
    if (!entries) {
        result.Error = listFile.string() + ": " + error;
        return result;
    }
    if (entries->empty()) {
        result.Error = listFile.string() + " lists no version";
        return result;
    }
    const std::string& newest = entries->back().Label;
    if (newest != label) {
        bool listed = false;
        for (const auto& entry : *entries) listed = listed || entry.Label == label;
        result.Error = listed ? "\"" + label + "\" is not the newest version (\"" + newest +
                                    "\" is): players may have installed it, and the versions "
                                    "after it only carry what changed since; only the newest "
                                    "version can be withdrawn"
                              : "\"" + label + "\" is not listed in " + listFile.string();
        return result;
    }
    // The launcher reads one version per line: the last line is the newest entry.
    const std::string text = ReadWhole(listFile);
    std::string lastLine;
    const std::size_t start = LastLineStart(text, &lastLine);
    if (lastLine.find(label) == std::string::npos) {
        result.Error = listFile.string() + ": its last line \"" + lastLine + "\" does not name \"" +
                       label + "\"; edit the list by hand";
        return result;
    }
    if (!WriteFileAtomically(listFile, text.substr(0, start))) {
        result.Error = "cannot write " + listFile.string();
        return result;
    }
    std::error_code ec;
    fs::remove_all(repository / label, ec);
    if (ec) {
        result.Error = "\"" + label + "\" is no longer listed, but " +
                       (repository / label).string() + " could not be deleted: " + ec.message();
        return result;
    }
    result.Removed = true;
    return result;
}
