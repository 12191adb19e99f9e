#include "text/MessageTableWriter.h"

#include "text/MessageTable.h"

bool CMessageTableWriter::Add(int number, std::string_view text) {
    if (number < INT16_MIN || number > INT16_MAX) return false;
    if (text.empty() || text.size() >= static_cast<std::size_t>(kMessageRecordBufferSize))
        return false;
    if (text.find('\0') != std::string_view::npos) return false;
    records_.push_back({static_cast<std::int16_t>(number), std::string(text)});
    return true;
}

namespace {
void PutLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
}  // namespace

std::string CMessageTableWriter::Serialize() const {
    std::string out;
    out.push_back(static_cast<char>(kMessageFileMagic));
    out.push_back(static_cast<char>(kMessageFileVersion));
    out.append(22, '\0');
    PutLe(out, static_cast<std::uint32_t>(records_.size()), 4);
    for (const Record& record : records_) {
        PutLe(out, static_cast<std::uint16_t>(record.Number), 2);
        PutLe(out, static_cast<std::uint32_t>(record.Text.size()), 2);
        for (char c : record.Text) out.push_back(static_cast<char>(c ^ kMessageTextKey));
    }
    return out;
}
