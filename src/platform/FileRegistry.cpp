#include "platform/FileRegistry.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>

#include "platform/AtomicFile.h"
#include "platform/RegistryDocument.h"

namespace {

const char* RootName(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

// Loads the root's file into `document`: a missing file is an empty registry.
Registry::Status Load(const std::filesystem::path& file, RegistryDocument& document) {
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (status.type() == std::filesystem::file_type::not_found) return Registry::Status::Ok;
    if (ec || status.type() != std::filesystem::file_type::regular)
        return Registry::Status::IoError;
    std::ifstream in(file, std::ios::binary);
    if (!in) return Registry::Status::IoError;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return Registry::Status::IoError;
    return document.Parse(bytes.str()) ? Registry::Status::Ok : Registry::Status::Damaged;
}

// The value `name` of `key` in the root's file, when it has `type`.
Registry::Status LoadValue(const std::filesystem::path& file, RegistryRoot root,
                           const std::string& key, const std::string& name,
                           RegistryDocument::ValueType type, RegistryDocument::Value& value) {
    RegistryDocument document(RootName(root));
    if (const Registry::Status s = Load(file, document); s != Registry::Status::Ok) return s;
    const RegistryDocument::Value* found = document.FindValue(key, name);
    if (!found) return Registry::Status::NotFound;
    if (found->Type != type) return Registry::Status::WrongType;
    value = *found;
    return Registry::Status::Ok;
}

Registry::Status Save(const std::filesystem::path& file, const RegistryDocument& document) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    return WriteFileAtomically(file, document.Serialize()) ? Registry::Status::Ok
                                                           : Registry::Status::IoError;
}

// A line break inside a key or value name cannot be stored in the file's line format (texts
// can: they are written in their byte form).
bool Storable(const std::string& name) {
    return name.find_first_of("\r\n") == std::string::npos;
}

// A REG_SZ ends at its first NUL: one inside could not be read back.
bool StorableText(const std::string& text) {
    return text.find('\0') == std::string::npos;
}

}  // namespace

FileRegistry::FileRegistry(std::filesystem::path directory) : directory_(std::move(directory)) {}

std::filesystem::path FileRegistry::FileFor(RegistryRoot root) const {
    return directory_ / (std::string(RootName(root)) + ".reg");
}

Registry::Status FileRegistry::CreateKey(RegistryRoot root, const std::string& key, bool* created) {
    if (created) *created = false;
    RegistryDocument document(RootName(root));
    if (const Status s = Load(FileFor(root), document); s != Status::Ok) return s;
    if (!Storable(key)) return Status::IoError;
    if (!document.CreateKey(key)) return Status::Ok;
    const Status s = Save(FileFor(root), document);
    if (created && s == Status::Ok) *created = true;
    return s;
}

Registry::Status FileRegistry::OpenKey(RegistryRoot root, const std::string& key) const {
    RegistryDocument document(RootName(root));
    if (const Status s = Load(FileFor(root), document); s != Status::Ok) return s;
    return document.HasKey(key) ? Status::Ok : Status::NotFound;
}

Registry::Status FileRegistry::DeleteKey(RegistryRoot root, const std::string& key) {
    RegistryDocument document(RootName(root));
    if (const Status s = Load(FileFor(root), document); s != Status::Ok) return s;
    if (!document.DeleteKey(key)) return Status::NotFound;
    return Save(FileFor(root), document);
}

Registry::Status FileRegistry::QueryString(RegistryRoot root, const std::string& key,
                                           const std::string& name, std::string* value) const {
    RegistryDocument::Value found;
    const Status s =
        LoadValue(FileFor(root), root, key, name, RegistryDocument::ValueType::String, found);
    if (s == Status::Ok && value) *value = found.Text;
    return s;
}

Registry::Status FileRegistry::QueryDword(RegistryRoot root, const std::string& key,
                                          const std::string& name, std::uint32_t* value) const {
    RegistryDocument::Value found;
    const Status s =
        LoadValue(FileFor(root), root, key, name, RegistryDocument::ValueType::Dword, found);
    if (s == Status::Ok && value) *value = found.Number;
    return s;
}

Registry::Status FileRegistry::SetString(RegistryRoot root, const std::string& key,
                                         const std::string& name, const std::string& value,
                                         TextEnd) {
    RegistryDocument document(RootName(root));
    if (const Status s = Load(FileFor(root), document); s != Status::Ok) return s;
    if (!Storable(key) || !Storable(name) || !StorableText(value)) return Status::IoError;
    RegistryDocument::Value entry;
    entry.Name = name;
    entry.Type = RegistryDocument::ValueType::String;
    entry.Text = value;
    document.SetValue(key, std::move(entry));
    return Save(FileFor(root), document);
}

Registry::Status FileRegistry::SetDword(RegistryRoot root, const std::string& key,
                                        const std::string& name, std::uint32_t value) {
    RegistryDocument document(RootName(root));
    if (const Status s = Load(FileFor(root), document); s != Status::Ok) return s;
    if (!Storable(key) || !Storable(name)) return Status::IoError;
    RegistryDocument::Value entry;
    entry.Name = name;
    entry.Type = RegistryDocument::ValueType::Dword;
    entry.Number = value;
    document.SetValue(key, std::move(entry));
    return Save(FileFor(root), document);
}

Registry::Status FileRegistry::DeleteValue(RegistryRoot root, const std::string& key,
                                           const std::string& name) {
    RegistryDocument document(RootName(root));
    if (const Status s = Load(FileFor(root), document); s != Status::Ok) return s;
    if (!document.DeleteValue(key, name)) return Status::NotFound;
    return Save(FileFor(root), document);
}
