#include "VersionLabel.h"

#include <cstdio>

#include "patch/PatchEngine.h"
#include "patch/QuietPatchHost.h"
#include "patch/VersionNumber.h"
#include "text/MessageNumbers.h"

std::string LabelVersion::Text() const {
    return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Build);
}

LabelVersion ReadLabelVersion(const std::string& label) {
    VersionNumber v = VersionNumber::Parse(label);
    return {v.Major, v.Minor, v.Build};
}

std::string LabelProblem(const std::string& label) {
    if (label.empty()) return "empty";
    if (label.size() > 8) return "longer than 8 characters";
    int parts[3] = {0, 0, 0};
    int part = 0;
    int digits = 0;
    for (char c : label) {
        if (c == '.') {
            if (digits == 0 || part == 2) return "not three numbers joined by single dots";
            ++part;
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            parts[part] = parts[part] * 10 + (c - '0');
            if (parts[part] > 255) return "a number above 255 (each part is one byte)";
            ++digits;
        } else {
            return "not three numbers joined by single dots";
        }
    }
    if (part != 2 || digits == 0) return "not three numbers joined by single dots";
    LabelVersion read = ReadLabelVersion(label);
    if (read.Major != parts[0] || read.Minor != parts[1] || read.Build != parts[2])
        return "the launcher reads it as " + read.Text();
    return {};
}

std::optional<std::vector<VersionListEntryText>> ReadVersionListFile(
    const std::filesystem::path& file, std::string& error) {
    QuietPatchHost host;
    PatchEngine engine(host, GamePath(file.parent_path()));
    if (!engine.LoadVersionList(file.filename().string())) {
        error = host.LastStatusMessage() == kMsgTooManyVersions
                    ? "lists more than 999 versions; the launcher refuses it"
                : host.LastStatusMessage() == kMsgVersionListUnreadable ? "cannot be read"
                                                                        : "cannot be read";
        return std::nullopt;
    }
    std::vector<VersionListEntryText> entries;
    for (const auto& e : engine.VersionList) {
        entries.push_back({e.Label, {e.Major, e.Minor, e.Build}});
    }
    return entries;
}
