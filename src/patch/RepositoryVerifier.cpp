#include "patch/RepositoryVerifier.h"

#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/FileContents.h"
#include "trust/TextRecords.h"

namespace fs = std::filesystem;

namespace {

SignedDownload Expecting(std::uint64_t size, const Sha256Digest& digest, std::string what) {
    return SignedDownload{DownloadExpectation::Exactly(size, digest), std::move(what)};
}

std::uint64_t StoredSerial(const fs::path& file) {
    auto text = ReadFileContents(file, 64);
    if (!text) return 0;
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
    return textrecords::ParseDecimal(*text).value_or(0);
}

}  // namespace

RepositoryVerifier::RepositoryVerifier(std::vector<MinisignPublicKey> keys, fs::path serialFile)
    : keys_(std::move(keys)), serialFile_(std::move(serialFile)) {}

std::vector<MinisignPublicKey> RepositoryVerifier::ParseTrustedKeys(
    const std::vector<std::string>& lines, std::vector<std::string>& problems) {
    std::vector<MinisignPublicKey> keys;
    for (const auto& line : lines) {
        std::string error;
        if (auto key = ParsePublicKeyLine(line, error))
            keys.push_back(*key);
        else
            problems.push_back("trusted_key \"" + line + "\": " + error);
    }
    return keys;
}

bool RepositoryVerifier::Fail(std::string why) {
    failure_ = std::move(why);
    return false;
}

bool RepositoryVerifier::AcceptIndex(const fs::path& indexFile, const fs::path& signatureFile,
                                     std::int64_t now) {
    index_.reset();
    manifest_.reset();
    filesByKey_.clear();
    const std::string indexName = indexFile.filename().string();
    if (keys_.empty()) return Fail("no trusted_key of the deployment could be read");
    auto text = ReadFileContents(indexFile, kMaxIndexBytes);
    if (!text)
        return Fail(indexName + " is missing or larger than " + std::to_string(kMaxIndexBytes) +
                    " bytes: the patch server's repository is not signed");
    auto signatureText = ReadFileContents(signatureFile, kMaxSignatureBytes);
    if (!signatureText)
        return Fail(signatureFile.filename().string() +
                    " is missing: the patch server's repository is not signed");
    std::string error;
    auto signature = ParseSignatureFile(*signatureText, error);
    if (!signature) return Fail(signatureFile.filename().string() + ": " + error);
    bool verified = false;
    std::string why;
    for (const auto& key : keys_) {
        if (key.KeyId != signature->KeyId) continue;
        if (VerifySignature(key, *signature, *text, why)) {
            verified = true;
            break;
        }
    }
    if (!verified) {
        if (why.empty())
            why = "signed by key " + KeyIdText(signature->KeyId) + ", which is not trusted";
        return Fail(indexName + ": " + why);
    }
    auto index = ParseRepositoryIndex(*text, error);
    if (!index) return Fail(indexName + ": " + error);
    if (index->Expires <= now)
        return Fail(indexName + " expired at " + textrecords::FormatUtcTime(index->Expires) +
                    " (the server offers an old copy, or its operator has not signed it again)");
    const std::uint64_t seen = StoredSerial(serialFile_);
    if (index->Serial < seen)
        return Fail(indexName + " has serial " + std::to_string(index->Serial) +
                    ", older than serial " + std::to_string(seen) +
                    " already seen here: an old copy is being replayed");
    if (index->Serial > seen &&
        !WriteFileAtomically(serialFile_, std::to_string(index->Serial) + "\n"))
        return Fail("cannot record the index serial in " + serialFile_.string());
    index_ = std::move(index);
    return true;
}

bool RepositoryVerifier::CheckFile(const fs::path& file, std::uint64_t size,
                                   const Sha256Digest& digest, const std::string& what) {
    std::error_code ec;
    const auto actual = fs::file_size(file, ec);
    if (ec) return Fail(what + ": cannot read " + file.string());
    if (actual != size)
        return Fail(what + " has " + std::to_string(actual) + " bytes, the signed manifest says " +
                    std::to_string(size));
    auto got = Sha256OfFile(file);
    if (!got) return Fail(what + ": cannot read " + file.string());
    if (got->Digest != digest)
        return Fail(what + " has SHA-256 " + ToHex(got->Digest) + ", the signed manifest says " +
                    ToHex(digest));
    return true;
}

bool RepositoryVerifier::CheckVersionFile(const std::string& name, const fs::path& file) {
    if (!index_) return Fail("no signed index was accepted");
    const IndexedFile* expected = index_->FindVersionFile(name);
    if (!expected) return Fail("the signed index does not describe the version list " + name);
    return CheckFile(file, expected->Size, expected->Digest, "version list " + name);
}

bool RepositoryVerifier::AcceptManifest(const std::string& label, const fs::path& manifestFile) {
    manifest_.reset();
    filesByKey_.clear();
    manifest_ = ReadManifest(label, manifestFile);
    if (!manifest_) return false;
    filesByKey_.reserve(manifest_->Files.size());
    // The first record of a path wins, as with Manifest::Find.
    for (const ManifestFile& f : manifest_->Files) filesByKey_.emplace(ManifestKey(f.Path), &f);
    return true;
}

std::optional<Manifest> RepositoryVerifier::ReadManifest(const std::string& label,
                                                         const fs::path& manifestFile) {
    auto refuse = [this](std::string why) {
        Fail(std::move(why));
        return std::nullopt;
    };
    if (!index_) return refuse("no signed index was accepted");
    const IndexedVersion* version = index_->FindVersion(label);
    if (!version) return refuse("version " + label + " is not in the signed index");
    if (!version->Manifest)
        return refuse("version " + label +
                      " was published without a manifest and cannot be verified");
    auto text = ReadFileContents(manifestFile, kMaxManifestBytes);
    if (!text) return refuse("the manifest of version " + label + " is missing or too large");
    if (Sha256Of(*text) != *version->Manifest)
        return refuse("the manifest of version " + label +
                      " differs from its hash in the signed index");
    std::string error;
    auto manifest = ParseManifest(*text, error);
    if (!manifest) return refuse("the manifest of version " + label + ": " + error);
    if (manifest->Label != label)
        return refuse("the manifest in " + label + " describes version " + manifest->Label);
    return manifest;
}

bool RepositoryVerifier::CheckList(const fs::path& file) {
    if (!manifest_) return Fail("no manifest was accepted");
    return CheckFile(file, manifest_->List.Size, manifest_->List.Digest,
                     "list file " + manifest_->List.Location);
}

const ManifestFile* RepositoryVerifier::FileFor(std::string_view gamePath) {
    if (!manifest_) {
        Fail("no manifest was accepted");
        return nullptr;
    }
    const auto found = filesByKey_.find(ManifestKey(gamePath));
    const ManifestFile* f = found == filesByKey_.end() ? nullptr : found->second;
    if (!f)
        Fail("file " + std::string(gamePath) + " is not in the manifest of version " +
             manifest_->Label);
    return f;
}

bool RepositoryVerifier::CheckAnnouncedSize(std::string_view gamePath,
                                            std::optional<std::uint64_t> announced) {
    const ManifestFile* f = FileFor(gamePath);
    if (!f) return false;
    const std::uint64_t expected = f->Kind == FileSourceKind::Compressed ? f->StoredSize : f->Size;
    if (announced && *announced != expected)
        return Fail("file " + std::string(gamePath) + " is offered with " +
                    std::to_string(*announced) + " bytes, the signed manifest says " +
                    std::to_string(expected));
    return true;
}

std::optional<SignedDownload> RepositoryVerifier::ArchiveExpectation() {
    if (!manifest_) {
        Fail("no manifest was accepted");
        return std::nullopt;
    }
    if (!manifest_->Archive) {
        Fail("the manifest of version " + manifest_->Label + " names no archive");
        return std::nullopt;
    }
    return Expecting(manifest_->Archive->Size, manifest_->Archive->Digest,
                     "archive " + manifest_->Archive->Location);
}

std::optional<SignedDownload> RepositoryVerifier::StoredExpectation(std::string_view gamePath) {
    const ManifestFile* f = FileFor(gamePath);
    if (!f) return std::nullopt;
    const std::string what = "file " + std::string(gamePath) + " as downloaded";
    if (f->Kind == FileSourceKind::Compressed)
        return Expecting(f->StoredSize, f->StoredDigest, what);
    return Expecting(f->Size, f->Digest, what);
}

std::optional<SignedDownload> RepositoryVerifier::InstalledExpectation(std::string_view gamePath) {
    const ManifestFile* f = FileFor(gamePath);
    if (!f) return std::nullopt;
    return Expecting(f->Size, f->Digest, "file " + std::string(gamePath));
}

bool RepositoryVerifier::RefuseDownload(const SignedDownload& download, const std::string& why) {
    return Fail(download.What + " differs from the signed manifest (" + why + ")");
}

bool RepositoryVerifier::CheckInstalled(std::string_view gamePath, const fs::path& file) {
    const ManifestFile* f = FileFor(gamePath);
    if (!f) return false;
    return CheckFile(file, f->Size, f->Digest, "file " + std::string(gamePath));
}
