#pragma once
// "patch.log": which patch is being downloaded and which of its files already lie in "Temp".
//
// One line per record, "%c %s\n": a kind letter, a blank, a text. "V <version>" opens the log
// (version as "%d.%d.%d"); "F <path>" records a file, relative to the game directory with
// back-slashes, that is complete under "Temp". Readers ignore other kinds. Each append is
// one write of a whole line at the end of the file, so a killed run leaves complete lines.
// Queries keep what they read while the file stays as they saw it (and as this object's own
// appends left it), so a patch of thousands of files reads the log once, not once a file. Of
// the files they keep only one directory's at a time (the one asked about last), with where
// in the file each directory's lines lie: a log of many directories costs the memory of one.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct PatchLogLine {
    char Kind = 0;
    std::string Text;
};

class PatchLog {
public:
    explicit PatchLog(std::filesystem::path file);

    const std::filesystem::path& File() const { return file_; }
    bool Exists() const;

    // Appends "kind text"; false when the log cannot be written.
    bool AppendLogLine(char kind, std::string_view text);
    // Appends one "kind text" line for each text, in one write; false (and nothing appended)
    // when a text holds a line break, false when the log cannot be written.
    bool AppendLogLines(char kind, std::span<const std::string_view> texts);
    // True when an F line's text equals `path` (ASCII case ignored).
    bool IsFileLogged(std::string_view path) const;
    // True when the first V line's version (0.0.0 without one) is not `targetPacked`; false
    // also when the log cannot be read.
    bool IsLoggedVersionDifferent(std::int32_t targetPacked) const;

    // Every line in order; nullopt when the log cannot be read. The text is the rest of the
    // line after the kind letter and its blank(s), trailing blanks and CR removed.
    std::optional<std::vector<PatchLogLine>> ReadLines() const;
    // The lines as ReadLines gives them, one at a time, read in pieces; `visit` returns false
    // to stop. False when the log cannot be read (lines may have been visited before that).
    bool ForEachLine(const std::function<bool(const PatchLogLine&)>& visit) const;

    bool Remove() const;

private:
    // Where a directory's F lines lie in the file: from the first one's first byte to the end
    // of the last one.
    struct Span {
        std::uint64_t Begin = 0;
        std::uint64_t End = 0;
    };
    // What the queries need, from one reading of the file as identified by `Stamp`.
    struct Summary {
        bool HasVersion = false;
        std::string Version;  // the first V line's text
        // Every directory part of an F text (ASCII upper case) and where its lines lie.
        std::unordered_map<std::string, Span> Directories;
        // The F texts (ASCII upper case) of the directory asked about last.
        std::optional<std::string> ScopeDirectory;
        std::unordered_set<std::string> ScopeFiles;
    };
    struct Stamp {
        std::uint64_t Device = 0, Inode = 0, Size = 0;
        std::int64_t ModifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    static std::optional<Stamp> StampOf(const std::filesystem::path& file);
    Summary* CurrentSummary() const;
    // Loads the F texts of `directory` into the summary's scope; false when unreadable.
    bool LoadScope(Summary& summary, const std::string& directory) const;
    // Takes an F line at bytes [begin, end) of the file into the summary.
    static void NoteFileLine(Summary& summary, const std::string& upperText, std::uint64_t begin,
                             std::uint64_t end);

    std::filesystem::path file_;
    mutable std::optional<Summary> summary_;
    mutable Stamp summaryStamp_;
};
