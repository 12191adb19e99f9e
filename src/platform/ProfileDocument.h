#pragma once
// A profile (.ini) file held as its original lines, so that an edit changes only the lines it
// must and every other byte (comments, unknown lines, text before the first section, odd line
// ends) survives a rewrite.
//
// Reading rules: a line ends at CR LF, a lone CR or a lone LF; NUL bytes at the very end of
// the file are ignored. "[name]" opens a section (blanks inside the brackets are dropped;
// "[]" is a section with an empty name); "key=value" is a key (blanks around both dropped,
// one pair of matching quotes around the value stripped); a line starting with ';' is a
// comment; any other line is kept but is not a key. Lines before the first section belong
// to no section. Section and key names match without regard to ASCII case; where a name
// appears twice, the first one counts.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ProfileDocument {
public:
    explicit ProfileDocument(std::string_view bytes = {});

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Names in file order, each once.
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(std::string_view section) const;

    // A new key goes after the last entry of its section, a new section at the end.
    void Set(std::string_view section, std::string_view key, std::string_view value);
    void DeleteKey(std::string_view section, std::string_view key);
    void DeleteSection(std::string_view section);

    std::string Bytes() const;

private:
    enum class Kind { Blank, Comment, Section, Key, Other };
    struct Line {
        std::string Text;    // without its line end
        std::string Ending;  // "\r\n", "\r", "\n" or "" (last line)
        Kind LineKind = Kind::Other;
        std::string Name;   // section name or key name, trimmed
        std::string Value;  // key value, trimmed, quotes kept
        int Section = -1;   // index of the owning section header line, -1 before any
    };

    void Parse(std::string_view bytes);
    void Reparse() { Parse(Lines()); }
    std::string Lines() const;
    bool SectionMatches(const Line& line, std::string_view section) const;

    std::vector<Line> lines_;
    std::string tail_;              // NUL bytes that ended the file
    std::string newLine_ = "\r\n";  // the file's own line end, for lines we add
};
