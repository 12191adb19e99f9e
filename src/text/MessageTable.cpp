#include "text/MessageTable.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

CMessageTable g_MessageTable;

namespace {

// The loader's own texts, fixed in the program as CP949 bytes.
const char kCaption[] = "Error";
const char kFileMissingSuffix[] =  // "%s 파일이 존재하지 않습니다." after the path
    "\x20\xc6\xc4\xc0\xcf\xc0\xcc\x20\xc1\xb8\xc0\xe7\xc7\xcf\xc1\xf6\x20\xbe\xca\xbd\xc0\xb4\xcf"
    "\xb4\xd9\x2e";
const char kHeadAllocFailed[] =  // "메모리 할당 에러 (KaMsg)"
    "\xb8\xde\xb8\xf0\xb8\xae\x20\xc7\xd2\xb4\xe7\x20\xbf\xa1\xb7\xaf\x20\x28\x4b\x61\x4d\x73\x67"
    "\x29";
const char kNotTextCode[] =  // "TextCode 데이터가 아닙니다."
    "\x54\x65\x78\x74\x43\x6f\x64\x65\x20\xb5\xa5\xc0\xcc\xc5\xcd\xb0\xa1\x20\xbe\xc6\xb4\xd5\xb4"
    "\xcf\xb4\xd9\x2e";
const char kBadVersion[] =  // "지원하지 않는 버젼 데이터 입니다."
    "\xc1\xf6\xbf\xf8\xc7\xcf\xc1\xf6\x20\xbe\xca\xb4\xc2\x20\xb9\xf6\xc1\xaf\x20\xb5\xa5\xc0\xcc"
    "\xc5\xcd\x20\xc0\xd4\xb4\xcf\xb4\xd9\x2e";
const char kBadCount[] =  // "읽는중 데이터의 개수 에러 입니다."
    "\xc0\xd0\xb4\xc2\xc1\xdf\x20\xb5\xa5\xc0\xcc\xc5\xcd\xc0\xc7\x20\xb0\xb3\xbc\xf6\x20\xbf\xa1"
    "\xb7\xaf\x20\xc0\xd4\xb4\xcf\xb4\xd9\x2e";
const char kNodeAllocFailed[] =  // "메모리 할당 에러 #2(KaMsg)"
    "\xb8\xde\xb8\xf0\xb8\xae\x20\xc7\xd2\xb4\xe7\x20\xbf\xa1\xb7\xaf\x20\x23\x32\x28\x4b\x61\x4d"
    "\x73\x67\x29";
const char kIndexError[] = "message index table make error!!";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Reads exactly `size` bytes; false at end of file or on a read error.
bool ReadExactly(std::FILE* file, void* buffer, std::size_t size) {
    return size == 0 || std::fread(buffer, 1, size, file) == size;
}

std::int16_t ReadInt16(const unsigned char* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

}  // namespace

CMessageTable::CMessageTable() = default;

CMessageTable::~CMessageTable() {
    Clear();
}

void CMessageTable::ShowError(const std::string& text) const {
    if (showMessage_) showMessage_(text, kCaption, MessageBoxIcon::None);
}

void CMessageTable::Load(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        ShowError(path + kFileMissingSuffix);
        return;
    }
    Clear();
    head_ = new (std::nothrow) MessageNode{};
    if (!head_) {
        ShowError(kHeadAllocFailed);
        return;
    }
    tail_ = head_;

    // A short file leaves the unread header bytes zero, so it fails the checks below.
    unsigned char raw[kMessageFileHeaderSize] = {};
    (void)std::fread(raw, 1, sizeof raw, file.get());
    header_.Magic = raw[0];
    header_.Version = raw[1];
    std::memcpy(header_.Reserved, raw + 2, sizeof header_.Reserved);
    header_.Count = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(raw[24]) | (static_cast<std::uint32_t>(raw[25]) << 8) |
        (static_cast<std::uint32_t>(raw[26]) << 16) | (static_cast<std::uint32_t>(raw[27]) << 24));
    if (header_.Magic != kMessageFileMagic) {
        ShowError(kNotTextCode);
        return;
    }
    if (header_.Version != kMessageFileVersion) {
        ShowError(kBadVersion);
        return;
    }
    if (header_.Count <= 0) {
        ShowError(kBadCount);
        return;
    }

    char buffer[kMessageRecordBufferSize];
    for (std::int32_t i = 0; i < header_.Count; ++i) {
        std::memset(buffer, 0, sizeof buffer);
        unsigned char fields[4];
        // A file that ends before `count` records keeps the records read so far.
        if (!ReadExactly(file.get(), fields, sizeof fields)) break;
        const int number = ReadInt16(fields);
        const int length = ReadInt16(fields + 2);
        // A negative length leaves no way to find the next record: stop here.
        if (length < 0) break;
        if (length >= kMessageRecordBufferSize) {
            // Too long for the record buffer: drop the record, keep its neighbours.
            if (std::fseek(file.get(), length, SEEK_CUR) != 0) break;
            continue;
        }
        if (!ReadExactly(file.get(), buffer, static_cast<std::size_t>(length))) break;
        for (int k = 0; k < length; ++k) buffer[k] = static_cast<char>(buffer[k] ^ kMessageTextKey);
        buffer[length] = '\0';
        Add(number, buffer);
    }
}

int CMessageTable::Add(int number, const char* text) {
    if (!text || text[0] == '\0') return 0;
    if (!head_) {
        // Records only hang off a list that Load started.
        head_ = new (std::nothrow) MessageNode{};
        if (!head_) return 0;
        tail_ = head_;
    }
    auto* node = new (std::nothrow) MessageNode{};
    if (!node) {
        ShowError(kNodeAllocFailed);
        return 0;
    }
    node->Number = number;
    const std::size_t length = std::strlen(text);
    node->Text = new (std::nothrow) char[length + 1];
    if (!node->Text) {
        delete node;
        return 0;
    }
    std::memcpy(node->Text, text, length + 1);
    tail_->Next = node;
    tail_ = node;
    if (number >= 0 && number < kMessageIndexLimit) {
        index_[static_cast<std::size_t>(number)] = node;
        return 1;
    }
    ShowError(kIndexError);
    return 0;
}

const char* CMessageTable::GetText(int number) const {
    if (number >= 0 && number < kMessageIndexLimit && index_[static_cast<std::size_t>(number)])
        return index_[static_cast<std::size_t>(number)]->Text;
    if (!head_) return defaultText_;
    for (const MessageNode* node = head_->Next; node; node = node->Next)
        if (node->Number == number) return node->Text;
    return head_->Next ? head_->Next->Text : defaultText_;
}

void CMessageTable::Clear() {
    MessageNode* node = head_;
    while (node) {
        MessageNode* next = node->Next;
        delete[] node->Text;
        delete node;
        node = next;
    }
    head_ = nullptr;
    tail_ = nullptr;
    index_.fill(nullptr);
}
