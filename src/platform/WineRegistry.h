#pragma once
// The registry of a Windows game client running under Wine: the values live in the client's
// Wine prefix, as Windows keeps them, so that the client reads them with its own registry calls.
//
// - Texts are UTF-16 in the prefix. The launcher's bytes are decoded in the deployment's code
//   page on the way in and encoded in it on the way out; bytes the code page cannot decode
//   (or a stored text it cannot hold) fail the operation, nothing is changed silently.
// - A 32-bit client sees HKEY_LOCAL_MACHINE\SOFTWARE under Software\Wow6432Node.
// - While no Wine server runs for the prefix, system.reg and user.reg are edited directly
//   (locked against a server starting meanwhile, replaced atomically, every other line kept).
//   While one runs, it owns the registry and would write its own copy over the files: then
//   reads go through "wine regedit /E" and writes are gathered and sent in one
//   "wine regedit /S" import at Commit. A server is never stopped. (regedit's export shows a
//   text stored without terminator one character short: the launcher itself reads back only
//   terminated texts and numbers.)
// - A missing or unusable prefix, a damaged registry file or a missing wine program fail with
//   a message (LastProblem) that names what is missing; nothing is half-written.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/WineRegistryFile.h"

struct WineRegistryOptions {
    std::filesystem::path Prefix;
    int ClientBits = 32;
    std::string CodePage = "CP949";
    std::string WineProgram = "wine";  // a path, or a name looked up in PATH
};

class WineRegistry : public Registry {
public:
    explicit WineRegistry(WineRegistryOptions options);
    ~WineRegistry() override;  // commits what is still gathered

    Status CreateKey(RegistryRoot root, const std::string& key, bool* created = nullptr) override;
    Status OpenKey(RegistryRoot root, const std::string& key) const override;
    Status DeleteKey(RegistryRoot root, const std::string& key) override;
    Status QueryString(RegistryRoot root, const std::string& key, const std::string& name,
                       std::string* value) const override;
    Status QueryDword(RegistryRoot root, const std::string& key, const std::string& name,
                      std::uint32_t* value) const override;
    Status SetString(RegistryRoot root, const std::string& key, const std::string& name,
                     const std::string& value, TextEnd end = TextEnd::Terminated) override;
    Status SetDword(RegistryRoot root, const std::string& key, const std::string& name,
                    std::uint32_t value) override;
    Status DeleteValue(RegistryRoot root, const std::string& key, const std::string& name) override;
    Status Commit() override;
    // Starts the prefix's Wine server when none runs and waits until it serves (at most ten
    // seconds). A client then starts in a fraction of the time a cold Wine needs (see
    // docs/deploying.md), within the hand-off stamp's 5000 ms. The server ends by itself a
    // few seconds after its last client.
    void PrepareForClientStart() override;
    std::string LastProblem() const override { return problem_; }

    // Where a key of the client lives in the prefix, below its root's file.
    std::u16string PathInPrefix(RegistryRoot root, const std::string& key) const;
    std::filesystem::path FileFor(RegistryRoot root) const;

private:
    using Edit = std::function<Status(WineRegistryFile&, std::int64_t now)>;
    using Look = std::function<Status(const WineRegistryFile&)>;

    Status Fail(Status status, const std::string& problem) const;
    Status CheckPrefix(RegistryRoot root, bool writing) const;
    Status Read(RegistryRoot root, const std::string& key, const Look& look) const;
    // Hands the value `name` of `key` to `use` when it is of `kind`.
    Status ReadValue(RegistryRoot root, const std::string& key, const std::string& name,
                     WineRegistryFile::Value::Kind kind,
                     const std::function<Status(const WineRegistryFile::Value&)>& use) const;
    // `edit` changes the file (server stopped) or the gathered view (server running);
    // `import` is the same change as lines of a registry import.
    Status Write(RegistryRoot root, const std::string& key, const Edit& edit,
                 const std::u16string& import);
    Status LoadFile(RegistryRoot root, WineRegistryFile& file) const;
    Status Fetch(RegistryRoot root, const std::u16string& path) const;
    Status RunWine(const std::vector<std::string>& arguments) const;
    bool Gathering() const { return !pending_.empty(); }

    WineRegistryOptions options_;
    mutable std::string problem_;
    // While a server runs: the keys read from it (a view per root) and the changes gathered.
    mutable WineRegistryFile view_[2];
    mutable std::vector<std::u16string> fetched_[2];
    std::u16string pending_;
};
