// torvane-publish: the operator's tool for a patch repository.
//   add REPO --label L [--from OLD_TREE] --to NEW_TREE (--packed | --files | --compressed)
//       [--absolute-dirs] [--test-server] [--version-file NAME] [--dry-run]
//       [--sign SECRET_KEY_FILE [--expires DAYS]]
//   remove REPO LABEL [--version-file NAME]     withdraws the newest version
//   keygen PUBLIC_KEY_FILE SECRET_KEY_FILE
//   sign REPO SECRET_KEY_FILE [--expires DAYS] [--version-file NAME]
//   check REPO [--version-file NAME] [--http] [--key PUBLIC_KEY_FILE]     --http: served over HTTP

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Publisher.h"
#include "RepositoryChecker.h"
#include "RepositoryMetadata.h"
#include "VersionRemoval.h"
#include "platform/ProgramInfo.h"

namespace {

constexpr const char* kUsage =
    "usage: torvane-publish add REPO --label L [--from OLD_TREE] --to NEW_TREE\n"
    "                           (--packed | --files | --compressed) [--absolute-dirs]\n"
    "                           [--test-server] [--version-file NAME] [--dry-run]\n"
    "                           [--sign SECRET_KEY_FILE [--expires DAYS]]\n"
    "       torvane-publish remove REPO LABEL [--version-file NAME]\n"
    "       torvane-publish keygen PUBLIC_KEY_FILE SECRET_KEY_FILE\n"
    "       torvane-publish sign REPO SECRET_KEY_FILE [--expires DAYS] [--version-file NAME]\n"
    "       torvane-publish check REPO [--version-file NAME] [--http] [--key PUBLIC_KEY_FILE]\n"
    "Writes a new version of the game into a patch repository, withdraws the newest one, makes\n"
    "and uses a signing key, or checks a repository.\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// "--expires DAYS": a whole number of days from 1 to 3650.
bool ParseDays(const std::string& text, int& days) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    days = std::stoi(text);
    return days >= 1 && days <= 3650;
}

int RunAdd(const std::vector<std::string>& args) {
    PublishOptions o;
    int modes = 0;
    bool haveTo = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--label") {
            if (!value(o.Label)) return Usage();
        } else if (a == "--from") {
            if (!value(v)) return Usage();
            o.OldTree = v;
        } else if (a == "--to") {
            if (!value(v)) return Usage();
            o.NewTree = v;
            haveTo = true;
        } else if (a == "--packed") {
            o.Mode = PatchMode::Packed;
            ++modes;
        } else if (a == "--files") {
            o.Mode = PatchMode::Files;
            ++modes;
        } else if (a == "--compressed") {
            o.Mode = PatchMode::Compressed;
            ++modes;
        } else if (a == "--absolute-dirs") {
            o.AbsoluteDirectories = true;
        } else if (a == "--test-server") {
            o.TestServer = true;
        } else if (a == "--dry-run") {
            o.DryRun = true;
        } else if (a == "--version-file") {
            if (!value(o.VersionFile)) return Usage();
        } else if (a == "--sign") {
            if (!value(v)) return Usage();
            o.SigningKey = v;
        } else if (a == "--expires") {
            if (!value(v) || !ParseDays(v, o.ExpiryDays)) return Usage();
        } else if (o.Repository.empty() && !a.starts_with("--")) {
            o.Repository = a;
        } else {
            std::fprintf(stderr, "torvane-publish: unknown argument %s\n", a.c_str());
            return Usage();
        }
    }
    if (o.Repository.empty() || o.Label.empty() || !haveTo || modes != 1) return Usage();

    PublishResult result = PublishVersion(o);
    for (const auto& w : result.Warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());
    for (const auto& e : result.Errors) std::fprintf(stderr, "error: %s\n", e.c_str());
    if (o.DryRun && result.Errors.empty()) {
        std::printf("dry run, nothing written; %s would write:\n", o.Label.c_str());
        for (const auto& line : result.Planned) std::printf("%s\n", line.c_str());
        return 0;
    }
    if (!result.Published) {
        std::fprintf(stderr, "torvane-publish: nothing written\n");
        return 1;
    }
    std::printf("published %s: %zu file%s, %zu delete entr%s\n", o.Label.c_str(), result.FileCount,
                result.FileCount == 1 ? "" : "s", result.DeleteCount,
                result.DeleteCount == 1 ? "y" : "ies");
    return 0;
}

int RunRemove(const std::vector<std::string>& args) {
    std::vector<std::string> words;
    std::string versionFile = PublishOptions{}.VersionFile;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--version-file" && i + 1 < args.size()) {
            versionFile = args[++i];
        } else if (!args[i].starts_with("--")) {
            words.push_back(args[i]);
        } else {
            std::fprintf(stderr, "torvane-publish: unknown argument %s\n", args[i].c_str());
            return Usage();
        }
    }
    if (words.size() != 2) return Usage();
    const RemoveResult result = RemoveNewestVersion(words[0], words[1], versionFile);
    if (!result.Removed) {
        std::fprintf(stderr, "error: %s\ntorvane-publish: nothing removed\n", result.Error.c_str());
        return 1;
    }
    std::printf("removed %s: no longer listed, its directory deleted\n", words[1].c_str());
    return 0;
}

int RunCheck(const std::vector<std::string>& args) {
    CheckOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--version-file" && i + 1 < args.size()) {
            o.VersionFile = args[++i];
        } else if (a == "--http") {
            o.Http = true;
        } else if (a == "--key" && i + 1 < args.size()) {
            o.PublicKey = args[++i];
        } else if (o.Repository.empty() && !a.starts_with("--")) {
            o.Repository = a;
        } else {
            std::fprintf(stderr, "torvane-publish: unknown argument %s\n", a.c_str());
            return Usage();
        }
    }
    if (o.Repository.empty()) return Usage();
    CheckReport report = CheckRepository(o);
    for (const auto& n : report.Notes) std::printf("note: %s\n", n.c_str());
    for (const auto& p : report.Problems) std::printf("problem: %s\n", p.c_str());
    std::printf("%zu versions checked, %zu problems\n", report.VersionsChecked,
                report.Problems.size());
    return report.Problems.empty() ? 0 : 1;
}

int RunKeygen(const std::vector<std::string>& args) {
    if (args.size() != 2) return Usage();
    std::string error;
    if (!GenerateKeyFiles(args[0], args[1], error)) {
        std::fprintf(stderr, "torvane-publish: %s\n", error.c_str());
        return 1;
    }
    std::printf("public key %s, secret key %s (unencrypted: keep it safe)\n", args[0].c_str(),
                args[1].c_str());
    return 0;
}

int RunSign(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::string versionFile = "version.wvd";
    int days = kDefaultExpiryDays;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--expires" && i + 1 < args.size()) {
            if (!ParseDays(args[++i], days)) return Usage();
        } else if (args[i] == "--version-file" && i + 1 < args.size()) {
            versionFile = args[++i];
        } else if (!args[i].starts_with("--")) {
            positional.push_back(args[i]);
        } else {
            std::fprintf(stderr, "torvane-publish: unknown argument %s\n", args[i].c_str());
            return Usage();
        }
    }
    if (positional.size() != 2) return Usage();
    std::string error;
    auto key = LoadSecretKey(positional[1], error);
    if (!key || !WriteSignedIndex(positional[0], versionFile, *key, days, error)) {
        std::fprintf(stderr, "torvane-publish: %s\n", error.c_str());
        return 1;
    }
    std::printf("signed %s/repository.index, valid for %d days\n", positional[0].c_str(), days);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered = AnswerHelpOrVersion(std::vector<std::string>(argv + 1, argv + argc),
                                                  "torvane-publish", kUsage)) {
        return *answered;
    }
    if (argc < 2) return Usage();
    std::vector<std::string> args(argv + 2, argv + argc);
    if (std::strcmp(argv[1], "add") == 0) return RunAdd(args);
    if (std::strcmp(argv[1], "check") == 0) return RunCheck(args);
    if (std::strcmp(argv[1], "remove") == 0) return RunRemove(args);
    if (std::strcmp(argv[1], "keygen") == 0) return RunKeygen(args);
    if (std::strcmp(argv[1], "sign") == 0) return RunSign(args);
    return Usage();
}
