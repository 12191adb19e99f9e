#include "trust/RepositoryIndex.h"

#include "platform/AsciiText.h"
#include "trust/TextRecords.h"

const IndexedFile* RepositoryIndex::FindVersionFile(std::string_view name) const {
    for (const auto& f : VersionFiles)
        if (EqualsIgnoringAsciiCase(f.Name, name)) return &f;
    return nullptr;
}

const IndexedVersion* RepositoryIndex::FindVersion(std::string_view label) const {
    for (const auto& v : Versions)
        if (EqualsIgnoringAsciiCase(v.Label, label)) return &v;
    return nullptr;
}

std::optional<RepositoryIndex> ParseRepositoryIndex(std::string_view text, std::string& error) {
    using namespace textrecords;
    RepositoryIndex index;
    bool haveSerial = false, haveExpires = false;
    auto record = [&](const std::vector<std::string_view>& f) -> std::string {
        if (f[0] == "serial" && f.size() == 2 && !haveSerial) {
            auto serial = ParseDecimal(f[1]);
            if (!serial) return "bad serial";
            index.Serial = *serial;
            haveSerial = true;
        } else if (f[0] == "expires" && f.size() == 2 && !haveExpires) {
            auto when = ParseUtcTime(f[1]);
            if (!when) return "bad expiry time (want YYYY-MM-DDTHH:MM:SSZ)";
            index.Expires = *when;
            haveExpires = true;
        } else if (f[0] == "version-file" && f.size() == 4) {
            auto size = ParseDecimal(f[2]);
            auto digest = Sha256FromHex(f[3]);
            if (!IsCleanRelativePath(f[1]) || !size || !digest) return "bad version-file";
            if (index.FindVersionFile(f[1])) return "version file listed twice";
            index.VersionFiles.push_back({std::string(f[1]), *size, *digest});
        } else if (f[0] == "version" && f.size() == 3) {
            IndexedVersion version;
            if (!IsCleanRelativePath(f[1]) || f[1].find('/') != std::string_view::npos)
                return "bad version label";
            if (index.FindVersion(f[1])) return "version listed twice";
            version.Label = std::string(f[1]);
            if (f[2] != "-") {
                auto digest = Sha256FromHex(f[2]);
                if (!digest) return "bad manifest hash";
                version.Manifest = *digest;
            }
            index.Versions.push_back(std::move(version));
        } else {
            return "unknown or repeated record \"" + std::string(f[0]) + "\"";
        }
        return {};
    };
    if (!ReadRecords(text, "torvane-repository-index", record, error)) return std::nullopt;
    if (!haveSerial || !haveExpires) {
        error = "no serial or no expiry time";
        return std::nullopt;
    }
    return index;
}

std::string FormatRepositoryIndex(const RepositoryIndex& index) {
    std::string text = "torvane-repository-index " +
                       std::to_string(RepositoryIndex::kFormatVersion) + "\nserial " +
                       std::to_string(index.Serial) + "\nexpires " +
                       textrecords::FormatUtcTime(index.Expires) + "\n";
    for (const auto& f : index.VersionFiles)
        text +=
            "version-file " + f.Name + " " + std::to_string(f.Size) + " " + ToHex(f.Digest) + "\n";
    for (const auto& v : index.Versions)
        text += "version " + v.Label + " " + (v.Manifest ? ToHex(*v.Manifest) : "-") + "\n";
    return text;
}
