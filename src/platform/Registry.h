#pragma once
// The registry keys and values the game and the launcher share, kept in text files in the
// registry-export format ("Windows Registry Editor Version 5.00"), one file per root. Every
// change rewrites its file atomically. A damaged file is never overwritten: operations on
// that root fail with Status::Damaged and the file stays as it is for the user to inspect.

#include <cstdint>
#include <filesystem>
#include <string>

enum class RegistryRoot { CurrentUser, LocalMachine };

class Registry {
public:
    enum class Status { Ok, NotFound, WrongType, Damaged, IoError };

    // Files: <directory>/HKEY_CURRENT_USER.reg and <directory>/HKEY_LOCAL_MACHINE.reg.
    explicit Registry(std::filesystem::path directory);

    const std::filesystem::path& Directory() const { return directory_; }
    std::filesystem::path FileFor(RegistryRoot root) const;

    // Key paths use back-slashes ("SOFTWARE\Varnok\KA\Config") and match without regard to
    // case. CreateKey reports through `created` whether the key is new.
    Status CreateKey(RegistryRoot root, const std::string& key, bool* created = nullptr);
    Status OpenKey(RegistryRoot root, const std::string& key) const;  // Ok or NotFound
    Status DeleteKey(RegistryRoot root, const std::string& key);      // with its subkeys

    Status QueryString(RegistryRoot root, const std::string& key, const std::string& name,
                       std::string* value) const;  // REG_SZ
    Status QueryDword(RegistryRoot root, const std::string& key, const std::string& name,
                      std::uint32_t* value) const;  // REG_DWORD
    // Setting a value creates its key when needed. A name or text holding a line break cannot
    // be stored and gives IoError with nothing written.
    Status SetString(RegistryRoot root, const std::string& key, const std::string& name,
                     const std::string& value);
    Status SetDword(RegistryRoot root, const std::string& key, const std::string& name,
                    std::uint32_t value);
    Status DeleteValue(RegistryRoot root, const std::string& key, const std::string& name);

private:
    std::filesystem::path directory_;
};
