#include "RepositoryMetadata.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <map>

#include "VersionLabel.h"
#include "platform/AtomicFile.h"
#include "platform/FileContents.h"
#include "trust/RepositoryIndex.h"
#include "trust/TextRecords.h"

namespace fs = std::filesystem;

namespace {

// Metadata files and keys are read whole; none is anywhere near this large.
constexpr std::uint64_t kMaxMetadataBytes = 256u << 20;

std::optional<std::string> ReadWhole(const fs::path& file) {
    return ReadFileContents(file, kMaxMetadataBytes);
}

std::optional<StoredFile> StoredFileAt(const fs::path& repository, const std::string& location) {
    auto digest = Sha256OfFile(repository / location);
    if (!digest) return std::nullopt;
    return StoredFile{location, digest->Size, digest->Digest};
}

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

std::optional<Manifest> NewestManifest(const fs::path& repository, const std::string& versionFile) {
    std::string error;
    std::error_code ec;
    if (!fs::exists(repository / versionFile, ec)) return std::nullopt;
    auto entries = ReadVersionListFile(repository / versionFile, error);
    if (!entries || entries->empty()) return std::nullopt;
    auto text = ReadWhole(repository / entries->back().Label / kManifestName);
    if (!text) return std::nullopt;
    return ParseManifest(*text, error);
}

std::optional<Manifest> MakeManifest(const fs::path& stage, const TreeScan& tree,
                                     const PublishedFiles& published,
                                     const std::optional<Manifest>& previous, std::string& error) {
    Manifest m;
    m.Label = published.Label;
    auto hashStaged = [&](const char* name) -> std::optional<StoredFile> {
        auto digest = Sha256OfFile(stage / name);
        if (!digest) return std::nullopt;
        return StoredFile{published.Label + "/" + name, digest->Size, digest->Digest};
    };
    auto list = hashStaged("list.inf");
    if (!list) {
        error = "cannot read the new list.inf";
        return std::nullopt;
    }
    m.List = *list;
    if (published.Packed) {
        m.Archive = hashStaged("up_list.zip");
        if (!m.Archive) {
            error = "cannot read the new up_list.zip";
            return std::nullopt;
        }
    }
    std::map<std::string, const ManifestFile*> byKey;
    for (const auto& f : published.Files) byKey[ManifestKey(f.Path)] = &f;
    for (const auto& e : tree.Entries) {
        if (e.IsDirectory) continue;
        auto found = byKey.find(ManifestKey(e.Path));
        if (found != byKey.end()) {
            m.Files.push_back(*found->second);
            byKey.erase(found);
            continue;
        }
        auto digest = Sha256OfFile(e.Source);
        if (!digest) {
            error = "cannot read " + e.Source.string();
            return std::nullopt;
        }
        ManifestFile f;
        const ManifestFile* before = previous ? previous->Find(e.Path) : nullptr;
        if (before && before->Size == digest->Size && before->Digest == digest->Digest) f = *before;
        f.Path = e.Path;
        f.Size = digest->Size;
        f.Digest = digest->Digest;
        m.Files.push_back(std::move(f));
    }
    // Published files the tree does not hold as such (a packed patch's own config.ini).
    for (const auto& [key, f] : byKey) m.Files.push_back(*f);
    return m;
}

bool WriteSignedIndex(const fs::path& repository, const std::string& versionFile,
                      const MinisignSecretKey& key, int expiryDays, std::string& error) {
    auto entries = ReadVersionListFile(repository / versionFile, error);
    if (!entries) {
        error = (repository / versionFile).string() + ": " + error;
        return false;
    }
    RepositoryIndex index;
    if (auto old = ReadWhole(repository / kRepositoryIndexName)) {
        std::string ignored;
        if (auto previous = ParseRepositoryIndex(*old, ignored)) index.Serial = previous->Serial;
    }
    index.Serial += 1;
    index.Expires = static_cast<std::int64_t>(std::time(nullptr)) +
                    static_cast<std::int64_t>(expiryDays) * 86400;
    auto list = StoredFileAt(repository, versionFile);
    if (!list) {
        error = "cannot read " + (repository / versionFile).string();
        return false;
    }
    index.VersionFiles.push_back({versionFile, list->Size, list->Digest});
    for (const auto& e : *entries) {
        IndexedVersion v;
        v.Label = e.Label;
        std::error_code ec;
        if (fs::exists(repository / e.Label / kManifestName, ec)) {
            auto digest = Sha256OfFile(repository / e.Label / kManifestName);
            if (!digest) {
                error = "cannot read " + (repository / e.Label / kManifestName).string();
                return false;
            }
            v.Manifest = digest->Digest;
        }
        index.Versions.push_back(std::move(v));
    }
    std::string text = FormatRepositoryIndex(index);
    std::string trusted = "serial:" + std::to_string(index.Serial) +
                          "\texpires:" + textrecords::FormatUtcTime(index.Expires) +
                          "\tfile:" + kRepositoryIndexName;
    MinisignSignature signature = SignMessage(
        key, text, "signature from minisign secret key " + KeyIdText(key.KeyId), trusted);
    // The signature goes first: a launcher that reads the old index with the new signature
    // refuses it and tries again later, which is safe; the other order is merely the same.
    if (!WriteFileAtomically(repository / kRepositoryIndexSignatureName,
                             FormatSignatureFile(signature)) ||
        !WriteFileAtomically(repository / kRepositoryIndexName, text)) {
        error = "cannot write " + (repository / kRepositoryIndexName).string();
        return false;
    }
    return true;
}

namespace {

// A key file read and parsed by `parse`; what failed names the file.
template <typename Parse>
auto LoadKey(const fs::path& file, const char* what, Parse parse, std::string& error)
    -> decltype(parse(std::string(), error)) {
    auto text = ReadWhole(file);
    if (!text) {
        error = std::string("cannot read the ") + what + " " + file.string();
        return std::nullopt;
    }
    auto key = parse(*text, error);
    if (!key) error = file.string() + ": " + error;
    return key;
}

}  // namespace

std::optional<MinisignSecretKey> LoadSecretKey(const fs::path& file, std::string& error) {
    return LoadKey(file, "secret key", ParseSecretKeyFile, error);
}

std::optional<MinisignPublicKey> LoadPublicKey(const fs::path& file, std::string& error) {
    return LoadKey(file, "public key", ParsePublicKeyFile, error);
}

bool GenerateKeyFiles(const fs::path& publicFile, const fs::path& secretFile, std::string& error) {
    std::error_code ec;
    for (const auto& f : {publicFile, secretFile}) {
        if (fs::exists(f, ec)) {
            error = f.string() + " already exists; not overwritten";
            return false;
        }
    }
    MinisignSecretKey key = GenerateSecretKey();
    std::string secret = FormatSecretKeyFile(key);
    int fd = ::open(secretFile.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    bool ok =
        fd >= 0 && ::write(fd, secret.data(), secret.size()) == static_cast<ssize_t>(secret.size());
    ok = fd >= 0 && ::fsync(fd) == 0 && ok;
    if (fd >= 0) ::close(fd);
    if (!ok) {
        error = "cannot write " + secretFile.string();
        fs::remove(secretFile, ec);
        return false;
    }
    if (!WriteFileAtomically(publicFile, FormatPublicKeyFile(key.PublicKey()))) {
        error = "cannot write " + publicFile.string();
        fs::remove(secretFile, ec);
        return false;
    }
    return true;
}

void CheckRepositoryMetadata(const fs::path& repository, const std::string& versionFile,
                             const std::optional<MinisignPublicKey>& key,
                             std::vector<std::string>& problems, std::vector<std::string>& notes) {
    auto indexText = ReadWhole(repository / kRepositoryIndexName);
    if (!indexText) {
        if (key)
            problems.push_back(Quote(kRepositoryIndexName) +
                               " is missing: the repository is not signed");
        return;
    }
    std::string error;
    auto index = ParseRepositoryIndex(*indexText, error);
    if (!index) {
        problems.push_back(Quote(kRepositoryIndexName) + ": " + error);
        return;
    }
    if (key) {
        auto sigText = ReadWhole(repository / kRepositoryIndexSignatureName);
        std::optional<MinisignSignature> sig;
        if (!sigText)
            problems.push_back(Quote(kRepositoryIndexSignatureName) + " is missing");
        else if (!(sig = ParseSignatureFile(*sigText, error)))
            problems.push_back(Quote(kRepositoryIndexSignatureName) + ": " + error);
        else if (!VerifySignature(*key, *sig, *indexText, error))
            problems.push_back(Quote(kRepositoryIndexName) + ": " + error);
        else
            notes.push_back("index serial " + std::to_string(index->Serial) + " signed by key " +
                            KeyIdText(key->KeyId));
    } else {
        notes.push_back("the index's signature was not checked (give --key PUBLIC_KEY_FILE)");
    }
    if (index->Expires <= static_cast<std::int64_t>(std::time(nullptr)))
        problems.push_back(Quote(kRepositoryIndexName) + " expired at " +
                           textrecords::FormatUtcTime(index->Expires) +
                           ": launchers refuse it until it is signed again (torvane-publish sign)");
    const IndexedFile* list = index->FindVersionFile(versionFile);
    auto listNow = StoredFileAt(repository, versionFile);
    if (!list)
        problems.push_back(Quote(kRepositoryIndexName) + " does not describe " +
                           Quote(versionFile));
    else if (!listNow || listNow->Size != list->Size || listNow->Digest != list->Digest)
        problems.push_back(Quote(versionFile) + " differs from what the index says (sign again)");
    auto entries = ReadVersionListFile(repository / versionFile, error);
    if (entries) {
        for (const auto& e : *entries)
            if (!index->FindVersion(e.Label))
                problems.push_back("version " + Quote(e.Label) +
                                   " is not in the index (sign again)");
    }
    for (const auto& v : index->Versions) {
        if (!v.Manifest) {
            notes.push_back("version " + Quote(v.Label) +
                            " has no manifest: launchers with a trusted key cannot install it");
            continue;
        }
        fs::path file = repository / v.Label / kManifestName;
        auto text = ReadWhole(file);
        if (!text || Sha256Of(*text) != *v.Manifest) {
            problems.push_back("version " + Quote(v.Label) + ": " +
                               Quote(v.Label + "/" + kManifestName) +
                               (text ? " differs from the hash in the index" : " is missing"));
            continue;
        }
        auto manifest = ParseManifest(*text, error);
        if (!manifest) {
            problems.push_back(file.string() + ": " + error);
            continue;
        }
        auto checkStored = [&](const std::string& what, const std::string& location,
                               std::uint64_t size, const Sha256Digest& digest) {
            auto now = StoredFileAt(repository, location);
            if (!now)
                problems.push_back("version " + Quote(v.Label) + ": " + what + " " +
                                   Quote(location) + " is missing");
            else if (now->Size != size || now->Digest != digest)
                problems.push_back("version " + Quote(v.Label) + ": " + what + " " +
                                   Quote(location) +
                                   " differs from its manifest (size or SHA-256)");
        };
        checkStored("list", manifest->List.Location, manifest->List.Size, manifest->List.Digest);
        if (manifest->Archive)
            checkStored("archive", manifest->Archive->Location, manifest->Archive->Size,
                        manifest->Archive->Digest);
        for (const auto& f : manifest->Files) {
            if (f.Kind == FileSourceKind::Plain)
                checkStored("file", f.Location, f.Size, f.Digest);
            else if (f.Kind == FileSourceKind::Compressed)
                checkStored("compressed file", f.Location, f.StoredSize, f.StoredDigest);
        }
    }
}
