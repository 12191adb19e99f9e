#include "trust/Manifest.h"

#include <algorithm>

#include "trust/TextRecords.h"

std::string ManifestKey(std::string_view gamePath) {
    std::string key(gamePath);
    for (char& c : key) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

const ManifestFile* Manifest::Find(std::string_view gamePath) const {
    std::string key = ManifestKey(gamePath);
    for (const auto& f : Files)
        if (ManifestKey(f.Path) == key) return &f;
    return nullptr;
}

namespace {

std::optional<StoredFile> ParseStored(const std::vector<std::string_view>& f) {
    if (f.size() != 4) return std::nullopt;
    auto size = textrecords::ParseDecimal(f[2]);
    auto digest = Sha256FromHex(f[3]);
    if (!textrecords::IsCleanRelativePath(f[1]) || !size || !digest) return std::nullopt;
    return StoredFile{std::string(f[1]), *size, *digest};
}

// "file PATH SIZE SHA256 KIND ..." with the source fields its kind calls for.
std::optional<ManifestFile> ParseFileRecord(const std::vector<std::string_view>& f) {
    using textrecords::IsCleanRelativePath;
    ManifestFile file;
    auto size = textrecords::ParseDecimal(f[2]);
    auto digest = Sha256FromHex(f[3]);
    if (!IsCleanRelativePath(f[1]) || !size || !digest) return std::nullopt;
    file.Path = std::string(f[1]);
    file.Size = *size;
    file.Digest = *digest;
    if (f[4] == "plain" && f.size() == 6 && IsCleanRelativePath(f[5])) {
        file.Kind = FileSourceKind::Plain;
        file.Location = std::string(f[5]);
    } else if (f[4] == "compressed" && f.size() == 8 && IsCleanRelativePath(f[5])) {
        auto storedSize = textrecords::ParseDecimal(f[6]);
        auto storedDigest = Sha256FromHex(f[7]);
        if (!storedSize || !storedDigest) return std::nullopt;
        file.Kind = FileSourceKind::Compressed;
        file.Location = std::string(f[5]);
        file.StoredSize = *storedSize;
        file.StoredDigest = *storedDigest;
    } else if (f[4] == "packed" && f.size() == 7 && IsCleanRelativePath(f[5]) &&
               IsCleanRelativePath(f[6])) {
        file.Kind = FileSourceKind::Packed;
        file.Location = std::string(f[5]);
        file.Entry = std::string(f[6]);
    } else if (f[4] == "none" && f.size() == 6 && f[5] == "-") {
        file.Kind = FileSourceKind::None;
    } else {
        return std::nullopt;
    }
    return file;
}

std::string FormatStored(const char* kind, const StoredFile& s) {
    return std::string(kind) + " " + s.Location + " " + std::to_string(s.Size) + " " +
           ToHex(s.Digest) + "\n";
}

}  // namespace

std::optional<Manifest> ParseManifest(std::string_view text, std::string& error) {
    using namespace textrecords;
    Manifest m;
    bool haveLabel = false, haveList = false;
    std::vector<std::string> keys;
    auto record = [&](const std::vector<std::string_view>& f) -> std::string {
        if (f[0] == "version" && f.size() == 2 && !haveLabel) {
            if (!IsCleanRelativePath(f[1]) || f[1].find('/') != std::string_view::npos)
                return "bad version label";
            m.Label = std::string(f[1]);
            haveLabel = true;
        } else if (f[0] == "list" && !haveList) {
            auto stored = ParseStored(f);
            if (!stored) return "bad list record";
            m.List = *stored;
            haveList = true;
        } else if (f[0] == "archive" && !m.Archive) {
            m.Archive = ParseStored(f);
            if (!m.Archive) return "bad archive record";
        } else if (f[0] == "file" && f.size() >= 6) {
            auto file = ParseFileRecord(f);
            if (!file) return "bad file record";
            keys.push_back(ManifestKey(file->Path));
            m.Files.push_back(std::move(*file));
        } else {
            return "unknown or repeated record \"" + std::string(f[0]) + "\"";
        }
        return {};
    };
    if (!ReadRecords(text, "torvane-manifest", record, error)) return std::nullopt;
    if (!haveLabel || !haveList) {
        error = "no version label or no list record";
        return std::nullopt;
    }
    std::sort(keys.begin(), keys.end());
    if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) {
        error = "a game path is listed twice";
        return std::nullopt;
    }
    return m;
}

std::string FormatManifest(const Manifest& m) {
    std::string text = "torvane-manifest " + std::to_string(Manifest::kFormatVersion) +
                       "\nversion " + m.Label + "\n" + FormatStored("list", m.List);
    if (m.Archive) text += FormatStored("archive", *m.Archive);
    for (const auto& f : m.Files) {
        text += "file " + f.Path + " " + std::to_string(f.Size) + " " + ToHex(f.Digest) + " ";
        switch (f.Kind) {
            case FileSourceKind::Plain:
                text += "plain " + f.Location;
                break;
            case FileSourceKind::Compressed:
                text += "compressed " + f.Location + " " + std::to_string(f.StoredSize) + " " +
                        ToHex(f.StoredDigest);
                break;
            case FileSourceKind::Packed:
                text += "packed " + f.Location + " " + f.Entry;
                break;
            case FileSourceKind::None:
                text += "none -";
                break;
        }
        text += "\n";
    }
    return text;
}
