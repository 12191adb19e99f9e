#pragma once
// "patch.log": which patch is being downloaded and which of its files already lie in "Temp".
//
// One line per record, "%c %s\n": a kind letter, a blank, a text. "V <version>" opens the log
// (version as "%d.%d.%d"); "F <path>" records a file, relative to the game directory with
// back-slashes, that is complete under "Temp". Readers ignore other kinds. Every append
// rewrites the log atomically, so a crash leaves the last complete state, never half a line.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
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
    // True when an F line's text equals `path` (ASCII case ignored).
    bool IsFileLogged(std::string_view path) const;
    // True when the first V line's version (0.0.0 without one) is not `targetPacked`; false
    // also when the log cannot be read.
    bool IsLoggedVersionDifferent(std::int32_t targetPacked) const;

    // Every line in order; nullopt when the log cannot be read. The text is the rest of the
    // line after the kind letter and its blank(s), trailing blanks and CR removed.
    std::optional<std::vector<PatchLogLine>> ReadLines() const;

    bool Remove() const;

private:
    std::filesystem::path file_;
};
