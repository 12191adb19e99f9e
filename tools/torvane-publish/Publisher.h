#pragma once
// `torvane-publish add`: turns the difference between two game trees into one new version of a
// patch repository, in the layout the launcher's FTP and HTTP sessions read.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

enum class PatchMode { Packed, Files, Compressed };

struct PublishOptions {
    std::filesystem::path Repository;
    std::string Label;
    std::optional<std::filesystem::path> OldTree;  // absent: first version, everything is new
    std::filesystem::path NewTree;
    PatchMode Mode = PatchMode::Packed;
    bool AbsoluteDirectories = false;  // per-file patches: files in server subdirectories
    bool TestServer = false;
    std::string VersionFile = "version.wvd";
    bool DryRun = false;  // work everything out, write nothing, list what would be written
    // A minisign secret key: write the version's manifest and sign the repository's index.
    std::optional<std::filesystem::path> SigningKey;
    int ExpiryDays = 30;  // the signed index's lifetime
};

struct PublishResult {
    bool Published = false;
    std::vector<std::string> Errors;    // why nothing was written
    std::vector<std::string> Warnings;  // published, but the operator should know
    std::size_t FileCount = 0;          // files carried by the new version
    std::size_t DeleteCount = 0;        // delete entries written
    std::vector<std::string> Planned;   // dry run: each file that would be written, and how
};

PublishResult PublishVersion(const PublishOptions& options);
