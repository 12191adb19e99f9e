#pragma once
// Settings files made of "key = value" lines, as the launcher's deployment settings and the
// development connect server read them. Blank lines and lines whose first non-blank character
// is '#' are skipped; blanks (kAsciiSpace) around the line, the key and the value are dropped.
// What a key means, and what to do with a malformed line, is the reader's business.

#include <istream>
#include <string>
#include <vector>

struct KeyValueLine {
    int Number = 0;          // counted from 1, skipped lines included
    bool HasEquals = false;  // false: no '=' on the line, Key holds the whole trimmed line
    std::string Key;
    std::string Value;
};

std::vector<KeyValueLine> ReadKeyValueLines(std::istream& in);
