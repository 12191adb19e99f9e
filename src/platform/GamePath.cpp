#include "platform/GamePath.h"

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/AsciiText.h"

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Splits on either separator; nullopt when any component is unacceptable.
std::optional<std::vector<std::string_view>> SplitSafe(std::string_view gameName) {
    if (gameName.empty()) return std::nullopt;
    if (gameName.find('\0') != std::string_view::npos) return std::nullopt;
    if (IsSeparator(gameName.front())) return std::nullopt;  // absolute or UNC
    // "C:" anywhere is a drive designator on Windows, and ':' would name an
    // alternate data stream there; neither may reach the disk.
    if (gameName.find(':') != std::string_view::npos) return std::nullopt;

    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t end = start;
        while (end < gameName.size() && !IsSeparator(gameName[end])) ++end;
        const std::string_view part = gameName.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return std::nullopt;
        parts.push_back(part);
        if (end == gameName.size()) break;
        start = end + 1;
    }
    return parts;
}

struct DirectoryStamp {
    dev_t Device = 0;
    ino_t Inode = 0;
    std::int64_t ModifiedNs = -1;
    bool operator==(const DirectoryStamp&) const = default;
};

std::optional<DirectoryStamp> StampOf(const std::filesystem::path& directory) {
    struct stat st {};
    if (::stat(directory.c_str(), &st) != 0) return std::nullopt;
    return DirectoryStamp{
        st.st_dev, st.st_ino,
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Keeps the smallest of several spellings, for a stable answer; true when `name` is another
// spelling of a name already there.
bool AddSpelling(std::unordered_map<std::string, std::string>& names, const std::string& name) {
    auto [it, added] = names.emplace(LowerAscii(name), name);
    if (added) return false;
    const bool variant = name != it->second;
    if (name < it->second) it->second = name;
    return variant;
}

}  // namespace

// The names of directories read so far, by directory.
class GamePath::Listings {
public:
    // Directories beyond this many names in all are forgotten (read again when needed).
    static constexpr std::size_t kMaxNames = 250000;
    // Longer than the file system's timestamp tick.
    static constexpr std::int64_t kSettledNs = 50000000;

    std::filesystem::path Find(const std::filesystem::path& directory, std::string_view part) {
        const auto stamp = StampOf(directory);
        if (!stamp) return {};
        const std::string key = directory.string();
        std::lock_guard<std::mutex> lock(mutex_);
        const Listing& known = byDirectory_[key];
        if (!known.Settled || !(known.Stamp == *stamp)) Read(directory, *stamp);
        const Listing& listing = byDirectory_[key];
        const auto it = listing.Names.find(LowerAscii(part));
        return it == listing.Names.end() ? std::filesystem::path() : directory / it->second;
    }

    void Note(const std::filesystem::path& created) {
        const std::filesystem::path directory = created.parent_path();
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = byDirectory_.find(directory.string());
        if (it == byDirectory_.end()) return;
        const auto stamp = StampOf(directory);
        if (!stamp) return;
        if (AddSpelling(it->second.Names, created.filename().string()))
            it->second.CaseVariants = true;
        ++names_;
        // The change is known: ours.
        it->second.Stamp = *stamp;
        it->second.Settled = true;
    }

    void NoteGone(const std::filesystem::path& removed) {
        const std::filesystem::path directory = removed.parent_path();
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = byDirectory_.find(directory.string());
        if (it == byDirectory_.end()) return;
        Listing& listing = it->second;
        const auto stamp = StampOf(directory);
        // Only one spelling of a name is kept: with others in the directory, the one left
        // is not known without reading it again.
        if (!stamp || listing.CaseVariants) {
            names_ -= listing.Names.size();
            byDirectory_.erase(it);
            return;
        }
        const auto name = listing.Names.find(LowerAscii(removed.filename().string()));
        if (name != listing.Names.end() && name->second == removed.filename().string()) {
            listing.Names.erase(name);
            --names_;
        }
        // The change is known: ours.
        listing.Stamp = *stamp;
        listing.Settled = true;
    }

    void Forget(const std::filesystem::path& directory) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = byDirectory_.find(directory.string());
        if (it == byDirectory_.end()) return;
        names_ -= it->second.Names.size();
        byDirectory_.erase(it);
    }

private:
    struct Listing {
        DirectoryStamp Stamp;
        // False when the directory had changed within a clock tick of the reading: a further
        // change in the same tick would leave the stamp as it is, so it proves nothing.
        bool Settled = false;
        std::unordered_map<std::string, std::string> Names;  // lower case -> on disk
        bool CaseVariants = false;  // a name is there in more than one spelling
    };

    void Read(const std::filesystem::path& directory, const DirectoryStamp& stamp) {
        Listing& listing = byDirectory_[directory.string()];
        names_ -= listing.Names.size();
        listing.Names.clear();
        listing.CaseVariants = false;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (AddSpelling(listing.Names, it->path().filename().string()))
                listing.CaseVariants = true;
        }
        // Stamped as before the reading: a change meanwhile makes the next look read again.
        listing.Stamp = ec ? DirectoryStamp{} : stamp;
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const std::int64_t nowNs = static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
        listing.Settled = !ec && nowNs - stamp.ModifiedNs > kSettledNs;
        names_ += listing.Names.size();
        if (names_ > kMaxNames) {
            Listing kept = std::move(listing);
            byDirectory_.clear();
            names_ = kept.Names.size();
            byDirectory_[directory.string()] = std::move(kept);
        }
    }

    std::mutex mutex_;
    std::unordered_map<std::string, Listing> byDirectory_;
    std::size_t names_ = 0;
};

GamePath::GamePath(std::filesystem::path root)
    : root_(std::move(root)), listings_(std::make_shared<Listings>()) {}

void GamePath::NoteCreated(const std::filesystem::path& created) const {
    listings_->Note(created);
}

void GamePath::NoteRemoved(const std::filesystem::path& removed) const {
    listings_->NoteGone(removed);
}

void GamePath::ForgetListing(const std::filesystem::path& directory) const {
    listings_->Forget(directory);
}

bool GamePath::CreateDirectories(const std::filesystem::path& directory,
                                 std::error_code& error) const {
    std::filesystem::create_directories(directory, error);
    if (error) return false;
    for (std::filesystem::path level = directory; level != root_ && level != level.parent_path();
         level = level.parent_path())
        NoteCreated(level);
    return true;
}

std::filesystem::path GamePath::FindSpelling(const std::filesystem::path& directory,
                                             std::string_view part) const {
    return listings_->Find(directory, part);
}

bool GamePath::IsSafe(std::string_view gameName) {
    return SplitSafe(gameName).has_value();
}

std::optional<std::filesystem::path> GamePath::Resolve(std::string_view gameName) const {
    const auto parts = SplitSafe(gameName);
    if (!parts) return std::nullopt;

    std::filesystem::path current = root_;
    bool onDisk = true;  // once a component is missing, the rest cannot exist either
    for (const std::string_view part : *parts) {
        if (onDisk) {
            std::error_code ec;
            const std::filesystem::path exact = current / std::string(part);
            if (std::filesystem::exists(std::filesystem::symlink_status(exact, ec))) {
                current = exact;
                continue;
            }
            const std::filesystem::path match = FindSpelling(current, part);
            if (!match.empty()) {
                current = match;
                continue;
            }
            onDisk = false;
        }
        current /= std::string(part);
    }
    return current;
}
