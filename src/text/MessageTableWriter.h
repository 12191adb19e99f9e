#pragma once
// Builds message.wtf files for the operator tools; the launcher itself only reads them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CMessageTableWriter {
public:
    // Queues a record; false when the number does not fit 16 bits or the text (bytes in the
    // target code page) is empty, longer than 255 bytes or holds a NUL (it would read back
    // cut short).
    bool Add(int number, std::string_view text);

    // The whole file: header, then the records in the order they were added.
    std::string Serialize() const;

    std::size_t Size() const { return records_.size(); }

private:
    struct Record {
        std::int16_t Number;
        std::string Text;
    };
    std::vector<Record> records_;
};
