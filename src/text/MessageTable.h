#pragma once
// The numbered table of every user-visible text, read once at start-up from message.wtf.
//
// File layout (little-endian): a 28-byte header (magic 0xCC, version 1, 22 reserved bytes,
// signed 32-bit record count), then `count` records of signed 16-bit number, signed 16-bit
// length and `length` text bytes each XORed with 0x9E. Texts stay bytes in the deployment's
// code page; the table neither converts nor validates them.
//
// Lookup never fails: a number the file lacks yields the first stored text, and a table
// without records yields "Msg error". Only the GUI thread touches the table, and only Load
// writes it, so it takes no lock.

#include <array>
#include <cstdint>
#include <string>

#include "platform/MessageBox.h"

inline constexpr std::uint8_t kMessageFileMagic = 0xCC;
inline constexpr std::uint8_t kMessageFileVersion = 1;
inline constexpr std::uint8_t kMessageTextKey = 0x9E;
inline constexpr int kMessageFileHeaderSize = 28;
inline constexpr int kMessageRecordBufferSize = 256;  // longest text is 255 bytes
inline constexpr int kMessageIndexSize = 32768;
inline constexpr int kMessageIndexLimit = 32767;  // numbers 0..32766 are indexed

struct MessageFileHeader {
    std::uint8_t Magic = 0;
    std::uint8_t Version = 0;
    std::uint8_t Reserved[22] = {};
    std::int32_t Count = 0;
};

struct MessageNode {
    MessageNode* Next = nullptr;
    std::int32_t Number = 0;
    char* Text = nullptr;  // NUL-terminated, owned
};

class CMessageTable {
public:
    CMessageTable();
    ~CMessageTable();
    CMessageTable(const CMessageTable&) = delete;
    CMessageTable& operator=(const CMessageTable&) = delete;

    // Where the loader's own error boxes go; without one they are dropped.
    void SetMessageBoxFunction(MessageBoxFunction function) { showMessage_ = std::move(function); }

    // Reads `path`, reporting every failure through the message box function. Never throws.
    void Load(const std::string& path);

    // Never null; valid until the table is cleared.
    const char* GetText(int number) const;

    // Stores one decoded record; 1 when stored and indexed, 0 otherwise.
    int Add(int number, const char* text);

    void Clear();

    // The stored records in file order (null when none), for operator tools.
    const MessageNode* FirstRecord() const { return head_ ? head_->Next : nullptr; }
    const MessageFileHeader& Header() const { return header_; }

private:
    void ShowError(const std::string& text) const;

    MessageNode* head_ = nullptr;
    MessageNode* tail_ = nullptr;
    std::array<MessageNode*, kMessageIndexSize> index_{};
    MessageFileHeader header_;
    char defaultText_[10] = "Msg error";
    MessageBoxFunction showMessage_;
};

extern CMessageTable g_MessageTable;

// Shorthand for g_MessageTable.GetText(number).
inline const char* GetText(int number) {
    return g_MessageTable.GetText(number);
}
