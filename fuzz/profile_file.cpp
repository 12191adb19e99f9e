// Profile files from disk: parsing must keep every byte, and an edit must read back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/ProfileDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(16);
    const std::string key = input.ConsumeRandomLengthString(16);
    const std::string value = input.ConsumeRandomLengthString(16);
    const int operation = input.ConsumeIntegralInRange(0, 2);
    const std::string file = input.ConsumeRemainingBytesAsString();

    ProfileDocument document(file);
    if (document.Bytes() != file) std::abort();  // reading never changes a byte
    (void)document.Get(section, key);
    (void)document.SectionNames();
    (void)document.KeyNames(section);

    // For simple names and values an edit must read back exactly.
    const auto simple = [](const std::string& text) {
        if (text.empty()) return false;
        for (const char c : text) {
            if (!std::isalnum(static_cast<unsigned char>(c))) return false;
        }
        return true;
    };
    const bool checkable = simple(section) && simple(key) && simple(value);
    switch (operation) {
        case 0:
            document.Set(section, key, value);
            if (checkable && ProfileDocument(document.Bytes()).Get(section, key) != value) {
                std::abort();
            }
            break;
        case 1:
            document.DeleteKey(section, key);
            if (ProfileDocument(document.Bytes()).Get(section, key)) std::abort();
            break;
        default:
            document.DeleteSection(section);
            break;
    }
    (void)ProfileDocument(document.Bytes()).SectionNames();
    return 0;
}
