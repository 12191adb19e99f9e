#include "TreeDiff.h"

#include <algorithm>
#include <fstream>
#include <map>

namespace {

std::map<std::string, const TreeEntry*> IndexByKey(const TreeScan& scan) {
    std::map<std::string, const TreeEntry*> index;
    for (const auto& e : scan.Entries) index.emplace(e.Key, &e);
    return index;
}

}  // namespace

std::optional<bool> SameContents(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::ifstream fa(a, std::ios::binary);
    std::ifstream fb(b, std::ios::binary);
    if (!fa || !fb) return std::nullopt;
    char ba[65536];
    char bb[65536];
    while (true) {
        fa.read(ba, sizeof ba);
        fb.read(bb, sizeof bb);
        std::streamsize na = fa.gcount();
        std::streamsize nb = fb.gcount();
        if (na != nb || !std::equal(ba, ba + na, bb)) return false;
        if (na == 0) return fa.eof() && fb.eof() ? std::optional<bool>(true) : std::nullopt;
    }
}

TreeDiff DiffTrees(const std::optional<TreeScan>& oldTree, const TreeScan& newTree) {
    TreeDiff diff;
    std::map<std::string, const TreeEntry*> oldIndex;
    if (oldTree) oldIndex = IndexByKey(*oldTree);

    for (const auto& e : newTree.Entries) {
        auto found = oldIndex.find(e.Key);
        const TreeEntry* old = found == oldIndex.end() ? nullptr : found->second;
        if (old && old->IsDirectory != e.IsDirectory) diff.KindChanges.push_back(e.Path);
        if (e.IsDirectory) {
            if (!old || !old->IsDirectory) diff.NewDirectories.push_back(e);
            continue;
        }
        if (old && !old->IsDirectory && old->Size == e.Size) {
            auto same = SameContents(old->Source, e.Source);
            if (!same) {
                diff.Errors.push_back("\"" + e.Path + "\": cannot read the file");
                continue;
            }
            // A name that changed only in letter case is published again, so the new
            // spelling reaches players whose file system keeps it.
            if (*same && old->Path == e.Path) continue;
        }
        diff.Published.push_back(e);
    }

    if (oldTree) {
        auto newIndex = IndexByKey(newTree);
        for (const auto& e : oldTree->Entries) {
            auto found = newIndex.find(e.Key);
            bool gone = found == newIndex.end() || found->second->IsDirectory != e.IsDirectory;
            if (!gone) continue;
            if (e.IsDirectory)
                diff.RemovedDirectories.push_back(e);
            else
                diff.RemovedFiles.push_back(e);
        }
        // Only an empty directory can be removed: deepest first.
        std::reverse(diff.RemovedDirectories.begin(), diff.RemovedDirectories.end());
    }
    return diff;
}
