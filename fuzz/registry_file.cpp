// Registry files edited by hand: parsing must not crash, and what we write must parse back
// to the same thing.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/RegistryDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    RegistryDocument document("HKEY_CURRENT_USER");
    if (!document.Parse(bytes)) return 0;
    (void)document.HasKey("SOFTWARE\\Varnok\\KA\\Config");
    (void)document.FindValue("SOFTWARE\\Varnok\\KA\\Config", "WindowMode");

    const std::string written = document.Serialize();
    RegistryDocument again("HKEY_CURRENT_USER");
    if (!again.Parse(written)) std::abort();
    if (again.Serialize() != written) std::abort();

    document.CreateKey("SOFTWARE\\Varnok\\KA\\Config");
    document.SetValue("SOFTWARE\\Varnok\\KA\\Config",
                      {"ID", RegistryDocument::ValueType::String, "a\\\"b", 0, ""});
    RegistryDocument third("HKEY_CURRENT_USER");
    if (!third.Parse(document.Serialize())) std::abort();
    const auto* id = third.FindValue("software\\varnok\\ka\\config", "id");
    if (!id || id->Text != "a\\\"b") std::abort();
    return 0;
}
