#include "platform/KeyValueLines.h"

#include <string_view>

#include "platform/AsciiText.h"

std::vector<KeyValueLine> ReadKeyValueLines(std::istream& in) {
    std::vector<KeyValueLine> lines;
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        const std::string_view text = TrimAscii(raw);
        if (text.empty() || text.front() == '#') continue;
        KeyValueLine line;
        line.Number = number;
        const std::size_t equals = text.find('=');
        line.HasEquals = equals != std::string_view::npos;
        line.Key = std::string(TrimAscii(text.substr(0, equals)));
        if (line.HasEquals) line.Value = std::string(TrimAscii(text.substr(equals + 1)));
        lines.push_back(std::move(line));
    }
    return lines;
}
