#include "platform/ProfileDocument.h"

#include <algorithm>

#include "platform/AsciiText.h"

namespace {

std::string_view Trim(std::string_view text) {
    return TrimAscii(text, " \t");
}

std::string StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

}  // namespace

ProfileDocument::ProfileDocument(std::string_view bytes) {
    std::size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == '\0') --end;
    tail_ = std::string(bytes.substr(end));
    Parse(bytes.substr(0, end));
    for (const Line& line : lines_) {
        if (!line.Ending.empty()) {
            newLine_ = line.Ending;
            break;
        }
    }
}

void ProfileDocument::Parse(std::string_view bytes) {
    lines_.clear();
    int section = -1;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = pos;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
        Line line;
        line.Text = std::string(bytes.substr(pos, end - pos));
        if (end < bytes.size()) {
            const bool crlf =
                bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n';
            line.Ending = crlf ? "\r\n" : std::string(1, bytes[end]);
        }
        pos = end + line.Ending.size();

        const std::string_view text = Trim(line.Text);
        const std::size_t close = text.rfind(']');
        const std::size_t equals = text.find('=');
        if (text.empty()) {
            line.LineKind = Kind::Blank;
        } else if (text.front() == ';') {
            line.LineKind = Kind::Comment;
        } else if (text.front() == '[' && close != std::string_view::npos) {
            line.LineKind = Kind::Section;
            line.Name = std::string(Trim(text.substr(1, close - 1)));
            section = static_cast<int>(lines_.size());
        } else if (equals != std::string_view::npos) {
            line.LineKind = Kind::Key;
            line.Name = std::string(Trim(text.substr(0, equals)));
            line.Value = std::string(Trim(text.substr(equals + 1)));
        }
        line.Section = line.LineKind == Kind::Section ? -1 : section;
        lines_.push_back(std::move(line));
    }
}

bool ProfileDocument::SectionMatches(const Line& line, std::string_view section) const {
    return line.Section >= 0 &&
           EqualsIgnoringAsciiCase(lines_[static_cast<std::size_t>(line.Section)].Name, section);
}

std::optional<std::string> ProfileDocument::Get(std::string_view section,
                                                std::string_view key) const {
    for (const Line& line : lines_) {
        if (line.LineKind == Kind::Key && EqualsIgnoringAsciiCase(line.Name, key) &&
            SectionMatches(line, section)) {
            return StripQuotes(line.Value);
        }
    }
    return std::nullopt;
}

std::vector<std::string> ProfileDocument::SectionNames() const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        if (line.LineKind != Kind::Section) continue;
        const bool seen = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            return EqualsIgnoringAsciiCase(n, line.Name);
        });
        if (!seen) names.push_back(line.Name);
    }
    return names;
}

std::vector<std::string> ProfileDocument::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        if (line.LineKind != Kind::Key || !SectionMatches(line, section)) continue;
        const bool seen = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            return EqualsIgnoringAsciiCase(n, line.Name);
        });
        if (!seen) names.push_back(line.Name);
    }
    return names;
}

void ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    for (Line& line : lines_) {
        if (line.LineKind == Kind::Key && EqualsIgnoringAsciiCase(line.Name, key) &&
            SectionMatches(line, section)) {
            line.Text = line.Name + "=" + std::string(value);
            Reparse();
            return;
        }
    }

    Line added;
    added.Text = std::string(key) + "=" + std::string(value);
    added.Ending = newLine_;

    std::optional<std::size_t> header;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].LineKind == Kind::Section &&
            EqualsIgnoringAsciiCase(lines_[i].Name, section)) {
            header = i;
            break;
        }
    }
    if (header) {
        // After the section's last entry, so that blank lines and comments that lead into
        // the next section stay with it.
        std::size_t last = *header;
        for (std::size_t i = *header + 1; i < lines_.size() && lines_[i].LineKind != Kind::Section;
             ++i) {
            if (lines_[i].LineKind != Kind::Blank && lines_[i].LineKind != Kind::Comment) last = i;
        }
        if (lines_[last].Ending.empty()) lines_[last].Ending = newLine_;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last + 1), std::move(added));
    } else {
        if (!lines_.empty() && lines_.back().Ending.empty()) lines_.back().Ending = newLine_;
        Line head;
        head.Text = "[" + std::string(section) + "]";
        head.Ending = newLine_;
        lines_.push_back(std::move(head));
        lines_.push_back(std::move(added));
    }
    Reparse();
}

void ProfileDocument::DeleteKey(std::string_view section, std::string_view key) {
    std::erase_if(lines_, [&](const Line& line) {
        return line.LineKind == Kind::Key && EqualsIgnoringAsciiCase(line.Name, key) &&
               SectionMatches(line, section);
    });
    Reparse();
}

void ProfileDocument::DeleteSection(std::string_view section) {
    std::vector<Line> kept;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        const bool doomed = line.LineKind == Kind::Section
                                ? EqualsIgnoringAsciiCase(line.Name, section)
                                : SectionMatches(line, section);
        if (!doomed) kept.push_back(line);
    }
    lines_ = std::move(kept);
    Reparse();
}

std::string ProfileDocument::Lines() const {
    std::string out;
    for (const Line& line : lines_) {
        out += line.Text;
        out += line.Ending;
    }
    return out;
}

std::string ProfileDocument::Bytes() const {
    return Lines() + tail_;
}
