#pragma once
// The registry keys and values the game client and the launcher share. Two stores stand
// behind this interface, chosen by the deployment: FileRegistry (our own files, for a native
// game client) and WineRegistry (the Wine prefix a Windows game client runs in).

#include <cstdint>
#include <string>

enum class RegistryRoot { CurrentUser, LocalMachine };

class Registry {
public:
    enum class Status { Ok, NotFound, WrongType, Damaged, IoError };
    // How a text value ends in the store: with the terminating zero Windows programs usually
    // write, or exactly the text's bytes (a reader then gets no terminator).
    enum class TextEnd { Terminated, Unterminated };

    virtual ~Registry() = default;

    // Key paths use back-slashes ("SOFTWARE\Varnok\KA\Config") and match without regard to
    // case. CreateKey reports through `created` whether the key is new.
    virtual Status CreateKey(RegistryRoot root, const std::string& key,
                             bool* created = nullptr) = 0;
    virtual Status OpenKey(RegistryRoot root, const std::string& key) const = 0;  // Ok, NotFound
    virtual Status DeleteKey(RegistryRoot root, const std::string& key) = 0;      // with subkeys

    virtual Status QueryString(RegistryRoot root, const std::string& key, const std::string& name,
                               std::string* value) const = 0;  // REG_SZ
    virtual Status QueryDword(RegistryRoot root, const std::string& key, const std::string& name,
                              std::uint32_t* value) const = 0;  // REG_DWORD
    // Setting a value creates its key when needed. A text the store cannot hold gives IoError
    // with nothing written.
    virtual Status SetString(RegistryRoot root, const std::string& key, const std::string& name,
                             const std::string& value, TextEnd end = TextEnd::Terminated) = 0;
    virtual Status SetDword(RegistryRoot root, const std::string& key, const std::string& name,
                            std::uint32_t value) = 0;
    virtual Status DeleteValue(RegistryRoot root, const std::string& key,
                               const std::string& name) = 0;

    // Some stores gather writes and apply them together here (the Wine prefix while Wine's
    // server runs: one import instead of a Wine start per value). Callers commit at the end of
    // every group of changes; a failure means none of the group may have arrived.
    virtual Status Commit() { return Status::Ok; }

    // Called right before a game hand-off. A store whose game client starts slowly gets it
    // ready here, so that the client still finds the hand-off's time stamp fresh.
    virtual void PrepareForClientStart() {}

    // What went wrong in the last failed operation (place and cause), for messages and the
    // log; empty when nothing is known beyond the status.
    virtual std::string LastProblem() const { return {}; }
};
