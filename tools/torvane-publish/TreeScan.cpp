#include "TreeScan.h"

#include <algorithm>
#include <map>
#include <system_error>
#include <tuple>

#include "platform/GamePath.h"

namespace fs = std::filesystem;

namespace {

// Refuses what the launcher cannot carry: its lists end a quoted name at a double quote,
// its patch log ends a path at white space, and '\' is its own separator.
std::string NameProblem(std::string_view name) {
    for (unsigned char c : name) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            return "contains a blank";
        if (c == '"') return "contains a double quote";
        if (c == '\\') return "contains a back-slash";
        if (c < 0x20 || c == 0x7f) return "contains a control character";
    }
    return {};
}

bool IsInside(const fs::path& root, const fs::path& candidate) {
    auto r = root.begin();
    auto c = candidate.begin();
    for (; r != root.end(); ++r, ++c) {
        if (c == candidate.end() || *r != *c) return false;
    }
    return true;
}

void ScanDirectory(const fs::path& root, const fs::path& canonicalRoot, const fs::path& dir,
                   const std::string& prefix, TreeScan& scan) {
    std::error_code ec;
    std::vector<fs::directory_entry> children;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        children.push_back(*it);
    }
    if (ec) {
        scan.Errors.push_back(prefix.empty() ? root.string() + ": cannot read the directory"
                                             : prefix + ": cannot read the directory");
        return;
    }

    std::map<std::string, std::string> seen;  // folded name -> spelling
    std::vector<TreeEntry> files;
    std::vector<TreeEntry> dirs;
    for (const auto& child : children) {
        std::string name = child.path().filename().string();
        std::string path = prefix.empty() ? name : prefix + "/" + name;
        std::string problem = NameProblem(name);
        if (problem.empty() && !GamePath::IsSafe(ToBackslashes(path)))
            problem = "is a name the launcher refuses";
        if (!problem.empty()) {
            scan.Errors.push_back("\"" + path + "\" " + problem);
            continue;
        }
        std::string folded = FoldCase(name);
        auto [where, fresh] = seen.emplace(folded, name);
        if (!fresh) {
            std::string other = prefix.empty() ? where->second : prefix + "/" + where->second;
            scan.Errors.push_back("\"" + path + "\" and \"" + other +
                                  "\" differ only by letter case");
            continue;
        }
        if (child.is_symlink(ec)) {
            fs::path target = fs::weakly_canonical(child.path(), ec);
            if (ec || !IsInside(canonicalRoot, target)) {
                scan.Errors.push_back("\"" + path + "\" is a link that leads out of the tree");
                continue;
            }
            if (fs::is_directory(target, ec)) {
                // A linked directory could loop back on its own ancestors.
                scan.Errors.push_back("\"" + path + "\" is a link to a directory");
                continue;
            }
        }
        TreeEntry entry;
        entry.Path = path;
        entry.Key = FoldCase(path);
        entry.Source = child.path();
        if (child.is_directory(ec)) {
            entry.IsDirectory = true;
            dirs.push_back(std::move(entry));
        } else if (child.is_regular_file(ec)) {
            entry.Size = child.file_size(ec);
            files.push_back(std::move(entry));
        } else {
            scan.Errors.push_back("\"" + path + "\" is neither a file nor a directory");
        }
    }
    auto byName = [](const TreeEntry& a, const TreeEntry& b) {
        return std::tie(a.Key, a.Path) < std::tie(b.Key, b.Path);
    };
    std::sort(files.begin(), files.end(), byName);
    std::sort(dirs.begin(), dirs.end(), byName);
    for (auto& f : files) scan.Entries.push_back(std::move(f));
    for (auto& d : dirs) {
        fs::path source = d.Source;
        std::string path = d.Path;
        scan.Entries.push_back(std::move(d));
        ScanDirectory(root, canonicalRoot, source, path, scan);
    }
}

}  // namespace

std::string FoldCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string ToBackslashes(std::string_view path) {
    std::string out(path);
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

bool TreeOrderLess(const TreeEntry& a, const TreeEntry& b) {
    // Compare component by component; a file (the last component of a file entry) sorts
    // before any directory at the same level, which gives the depth-first order of ScanTree.
    auto split = [](const TreeEntry& e) {
        std::vector<std::tuple<int, std::string_view, std::string_view>> parts;
        std::string_view key = e.Key;
        std::string_view path = e.Path;
        std::size_t start = 0;
        while (true) {
            std::size_t slash = key.find('/', start);
            bool last = slash == std::string_view::npos;
            std::size_t end = last ? key.size() : slash;
            int kind = (last && !e.IsDirectory) ? 0 : 1;
            parts.emplace_back(kind, key.substr(start, end - start),
                               path.substr(start, end - start));
            if (last) break;
            start = slash + 1;
        }
        return parts;
    };
    return split(a) < split(b);
}

TreeScan ScanTree(const fs::path& root) {
    TreeScan scan;
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        scan.Errors.push_back(root.string() + ": not a directory");
        return scan;
    }
    fs::path canonicalRoot = fs::canonical(root, ec);
    ScanDirectory(root, canonicalRoot, root, "", scan);
    return scan;
}
