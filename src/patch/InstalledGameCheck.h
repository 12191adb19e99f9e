#pragma once
// Compares an installed game with the manifest of its version: every file the manifest lists
// must be there with its size and SHA-256. config.ini is left out: once installed it is the
// player's own (the launcher records its version there, the options dialog its settings).
//
// Files are hashed on several threads at once (one per processor, at most four): hashing is
// what a check of a whole game costs, and a file's check depends on no other.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/GamePath.h"
#include "platform/Sha256.h"
#include "trust/Manifest.h"

struct InstalledFileProblem {
    enum class Kind { Missing, Damaged };
    Kind What = Kind::Missing;
    const ManifestFile* File = nullptr;  // the manifest's record
    // Damaged only: what is on disk (the digest only when the size matched).
    std::uint64_t FoundSize = 0;
    std::optional<Sha256Digest> FoundDigest;
    std::string Cause;  // a read error, an unsafe name: why a file counts as damaged or missing
};

// The manifest's files that are missing or differ, in the manifest's order.
std::vector<InstalledFileProblem> CheckInstalledGame(const GamePath& game,
                                                     const Manifest& manifest);

// True when the manifest's record is the game's config.ini, which the check leaves out.
bool IsPlayersOwnFile(const ManifestFile& file);

// "damaged: PATH" or "missing: PATH".
std::string ProblemLine(const InstalledFileProblem& problem);
// What differs, for stderr: sizes and hashes found and expected.
std::string ProblemDetail(const InstalledFileProblem& problem);
