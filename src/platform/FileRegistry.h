#pragma once
// The registry kept in text files in the registry-export format ("Windows Registry Editor
// Version 5.00"), one file per root, for a native game client. Every change rewrites its file
// atomically. A damaged file is never overwritten: operations on that root fail with
// Status::Damaged and the file stays as it is for the user to inspect.

#include <filesystem>
#include <string>

#include "platform/Registry.h"

class FileRegistry : public Registry {
public:
    // Files: <directory>/HKEY_CURRENT_USER.reg and <directory>/HKEY_LOCAL_MACHINE.reg.
    explicit FileRegistry(std::filesystem::path directory);

    const std::filesystem::path& Directory() const { return directory_; }
    std::filesystem::path FileFor(RegistryRoot root) const;

    Status CreateKey(RegistryRoot root, const std::string& key, bool* created = nullptr) override;
    Status OpenKey(RegistryRoot root, const std::string& key) const override;
    Status DeleteKey(RegistryRoot root, const std::string& key) override;
    Status QueryString(RegistryRoot root, const std::string& key, const std::string& name,
                       std::string* value) const override;
    Status QueryDword(RegistryRoot root, const std::string& key, const std::string& name,
                      std::uint32_t* value) const override;
    // Any bytes but a line break survive; the file format has no terminator to choose.
    Status SetString(RegistryRoot root, const std::string& key, const std::string& name,
                     const std::string& value, TextEnd end = TextEnd::Terminated) override;
    Status SetDword(RegistryRoot root, const std::string& key, const std::string& name,
                    std::uint32_t value) override;
    Status DeleteValue(RegistryRoot root, const std::string& key, const std::string& name) override;

private:
    std::filesystem::path directory_;
};
