#include "app/GameLaunch.h"

#include <unistd.h>

#include <fstream>
#include <system_error>
#include <vector>

#include "platform/GamePath.h"
#include "text/MessageNumbers.h"

std::string ScrambleText(std::string_view text, const ScrambleKey& key) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto sum = static_cast<std::uint8_t>(static_cast<std::uint8_t>(out[i]) + key[i % 4]);
        out[i] = static_cast<char>(sum);
    }
    return out;
}

std::string BuildGameArguments(std::string_view address, std::string_view port,
                               const ScrambleKey& key) {
    std::string arguments = "connect ";
    arguments += "/y";
    arguments += ScrambleText(address, key);
    arguments += " /z";
    arguments += ScrambleText(port, key);
    arguments += ' ';
    return arguments;
}

std::string DescribeStartFailure(const std::filesystem::path& gameDirectory,
                                 const std::string& file, int shellResult) {
    switch (shellResult) {
        case 0:
            return "out of memory or resources";
        case 2:
            return "no such file";
        case 3:
            return "no such folder";
        default:
            break;
    }
    const auto path = GamePath(gameDirectory).Resolve(file);
    std::error_code ec;
    if (path && std::filesystem::is_regular_file(*path, ec) && ::access(path->c_str(), X_OK) != 0)
        return "not executable (the file has no execute permission)";
    if (path && !std::filesystem::is_regular_file(*path, ec)) return "not a regular file";
    return "not a program the system can run (result " + std::to_string(shellResult) + ")";
}

int ShellResultMessage(int shellResult) {
    switch (shellResult) {
        case 0:
            return kMsgGameOutOfMemory;
        case 2:
        case 3:
            return kMsgGameNotFound;
        case 11:
            return kMsgGameDamaged;
        default:
            return 0;
    }
}

ConnectionRegistry::ConnectionRegistry(Registry& registry, ScrambleKey key, TickSource tick)
    : registry_(registry), key_(key), tick_(std::move(tick)) {}

bool ConnectionRegistry::WriteLaunchStamp() {
    if (registry_.CreateKey(RegistryRoot::LocalMachine, kConnectionKey) != Registry::Status::Ok)
        return false;
    return registry_.SetDword(RegistryRoot::LocalMachine, kConnectionKey, "Key", tick_()) ==
           Registry::Status::Ok;
}

std::uint32_t ConnectionRegistry::ReadLaunchStamp() const {
    std::uint32_t stamp = 0;
    if (registry_.QueryDword(RegistryRoot::LocalMachine, kConnectionKey, "Key", &stamp) !=
        Registry::Status::Ok)
        return 0xFFFFFFFFu;
    return stamp;
}

void ConnectionRegistry::DeleteConnectionKey() {
    registry_.DeleteKey(RegistryRoot::LocalMachine, kConnectionKey);
}

bool ConnectionRegistry::WriteConnectionParameters(const std::string& address, std::int32_t port) {
    // A stamp that cannot be read counts as stale: read as 0xFFFFFFFF it would otherwise look
    // fresh during the first five seconds after the tick counter starts or wraps.
    std::uint32_t stamp = 0;
    const bool haveStamp = registry_.QueryDword(RegistryRoot::LocalMachine, kConnectionKey, "Key",
                                                &stamp) == Registry::Status::Ok;
    if (!haveStamp || static_cast<std::uint32_t>(tick_() - stamp) > kLaunchStampMaxAgeMs) {
        problem_ = haveStamp ? "the launch stamp is older than 5000 ms"
                             : "the launch stamp cannot be read: " + registry_.LastProblem();
        DeleteConnectionKey();
        registry_.Commit();
        return false;
    }
    DeleteConnectionKey();

    const std::string scrambled = ScrambleText(address, key_);
    const std::uint32_t parameterB =
        static_cast<std::uint32_t>(key_[address.size() % 4]) ^ static_cast<std::uint32_t>(port);

    // Whatever fails, the key is deleted and that is committed: neither a stale key nor a
    // half-written one may stay behind for the client.
    const auto fail = [this] {
        const std::string problem = registry_.LastProblem();
        DeleteConnectionKey();  // no half-written key: the client finds none
        registry_.Commit();
        problem_ = problem.empty() ? registry_.LastProblem() : problem;
        return false;
    };
    if (registry_.CreateKey(RegistryRoot::LocalMachine, kConnectionKey) != Registry::Status::Ok)
        return fail();
    // The text's own bytes, no terminator: the client takes the address length from it.
    if (registry_.SetString(RegistryRoot::LocalMachine, kConnectionKey, "ParameterA", scrambled,
                            Registry::TextEnd::Unterminated) != Registry::Status::Ok)
        return fail();
    if (registry_.SetDword(RegistryRoot::LocalMachine, kConnectionKey, "ParameterB", parameterB) !=
        Registry::Status::Ok)
        return fail();
    WriteLaunchStamp();
    if (registry_.Commit() != Registry::Status::Ok) return fail();
    return true;
}

void CleanTempDirectory(const std::filesystem::path& gameDir) {
    std::error_code ec;
    const std::filesystem::path temp = gameDir / "Temp";
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(temp, ec))) return;
    std::vector<std::filesystem::path> entries;
    for (std::filesystem::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    for (const auto& entry : entries) {
        std::error_code removeError;
        // remove_all does not follow symbolic links: a link is removed, never its target.
        std::filesystem::remove_all(entry, removeError);
    }
    std::filesystem::remove(temp, ec);
}

bool ConfigFileExists(const std::filesystem::path& gameDir) {
    const auto file = GamePath(gameDir).Resolve("config.ini");
    if (!file) return false;
    std::ifstream in(*file, std::ios::binary);
    return in.good();
}
