// A Wine prefix's system.reg and user.reg, and regedit's exports: parsing must not crash, an
// unchanged file is written back byte for byte, and what we write parses back to itself.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/WineRegistryExport.h"
#include "platform/WineRegistryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    WineRegistryFile view;
    (void)ReadRegistryExport(bytes, u"HKEY_LOCAL_MACHINE", view, 1);

    WineRegistryFile file;
    if (!file.Parse(bytes)) return 0;
    if (file.Serialize() != bytes && bytes.back() == '\n') std::abort();
    const std::u16string key = u"Software\\Wow6432Node\\Varnok\\Ka\\Connection";
    (void)file.FindValue(key, u"ParameterA");
    file.SetText(key, u"ParameterA", u"a\\\"\xD55C\n", false, 1796721220);
    file.SetText(key, u"ID", u"\xD55C\"", true, 1796721220);
    file.SetDword(key, u"Key", 0xFFFFFFFFu, 1796721220);
    WineRegistryFile again;
    if (!again.Parse(file.Serialize())) std::abort();
    const auto text = again.FindValue(key, u"parametera");
    if (!text || text->Text != u"a\\\"\xD55C\n") std::abort();
    const auto id = again.FindValue(key, u"id");
    if (!id || id->Text != u"\xD55C\"") std::abort();
    const auto stamp = again.FindValue(key, u"KEY");
    if (!stamp || stamp->Number != 0xFFFFFFFFu) std::abort();
    return 0;
}
