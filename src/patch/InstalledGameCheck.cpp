#include "patch/InstalledGameCheck.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/AsciiText.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kMaxHashThreads = 4;

struct PendingFile {
    const ManifestFile* File = nullptr;
    std::optional<fs::path> Path;  // nullopt: the name is not one the resolver accepts
    std::optional<InstalledFileProblem> Problem;
};

void CheckOne(PendingFile& pending) {
    const ManifestFile& file = *pending.File;
    InstalledFileProblem problem;
    problem.File = &file;
    if (!pending.Path) {
        problem.What = InstalledFileProblem::Kind::Missing;
        problem.Cause = "the name is not a safe game path";
        pending.Problem = problem;
        return;
    }
    std::error_code ec;
    const auto status = fs::symlink_status(*pending.Path, ec);
    if (ec || status.type() == fs::file_type::not_found) {
        problem.What = InstalledFileProblem::Kind::Missing;
        pending.Problem = problem;
        return;
    }
    problem.What = InstalledFileProblem::Kind::Damaged;
    if (status.type() != fs::file_type::regular) {
        problem.Cause = pending.Path->string() + " is not a regular file";
        pending.Problem = problem;
        return;
    }
    problem.FoundSize = fs::file_size(*pending.Path, ec);
    if (ec) {
        problem.Cause = "cannot read " + pending.Path->string() + ": " + ec.message();
        pending.Problem = problem;
        return;
    }
    // A file of another size differs whatever its contents: it is not read.
    if (problem.FoundSize != file.Size) {
        pending.Problem = problem;
        return;
    }
    const auto digest = Sha256OfFile(*pending.Path);
    if (!digest) {
        problem.Cause = "cannot read " + pending.Path->string();
        pending.Problem = problem;
        return;
    }
    problem.FoundSize = digest->Size;
    problem.FoundDigest = digest->Digest;
    if (digest->Size != file.Size || digest->Digest != file.Digest) pending.Problem = problem;
}

}  // namespace

bool IsPlayersOwnFile(const ManifestFile& file) {
    return EqualsIgnoringAsciiCase(file.Path, "config.ini");
}

std::vector<InstalledFileProblem> CheckInstalledGame(const GamePath& game,
                                                     const Manifest& manifest) {
    // Names are resolved on this thread (the resolver keeps what it read of each directory);
    // only the reading and hashing is shared out.
    std::vector<PendingFile> pending;
    pending.reserve(manifest.Files.size());
    for (const ManifestFile& file : manifest.Files) {
        if (IsPlayersOwnFile(file)) continue;
        PendingFile p;
        p.File = &file;
        p.Path = game.Resolve(file.Path);
        pending.push_back(std::move(p));
    }

    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i = next++; i < pending.size(); i = next++) CheckOne(pending[i]);
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxHashThreads);
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads && t < pending.size(); ++t) helpers.emplace_back(worker);
    worker();
    for (auto& helper : helpers) helper.join();

    std::vector<InstalledFileProblem> problems;
    for (const auto& p : pending) {
        if (p.Problem) problems.push_back(*p.Problem);
    }
    return problems;
}

std::string ProblemLine(const InstalledFileProblem& problem) {
    return (problem.What == InstalledFileProblem::Kind::Missing ? "missing: " : "damaged: ") +
           problem.File->Path;
}

std::string ProblemDetail(const InstalledFileProblem& problem) {
    const ManifestFile& file = *problem.File;
    std::string text = file.Path + ": ";
    if (problem.What == InstalledFileProblem::Kind::Missing) {
        text += "missing, expected " + std::to_string(file.Size) + " bytes";
    } else {
        text += std::to_string(problem.FoundSize) + " bytes";
        if (problem.FoundDigest) text += ", SHA-256 " + ToHex(*problem.FoundDigest);
        text += "; expected " + std::to_string(file.Size) + " bytes, SHA-256 " + ToHex(file.Digest);
    }
    if (!problem.Cause.empty()) text += " (" + problem.Cause + ")";
    return text;
}
