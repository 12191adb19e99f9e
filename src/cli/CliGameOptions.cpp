#include "cli/CliGameOptions.h"

#include <charconv>
#include <optional>

#include "options/GameOptions.h"
#include "platform/CodePage.h"
#include "platform/OpenRegistry.h"

namespace {

bool SameName(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return i == a.size() && !b[i];
}

std::optional<int> Whole(const std::string& text, int low, int high) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high)
        return std::nullopt;
    return value;
}

}  // namespace

int ApplyGameOptions(const DeploymentSettings& settings,
                     const std::vector<std::string>& assignments, std::FILE* out, std::FILE* err) {
    const auto registry = OpenRegistry(settings);
    bool keyFailed = false;
    GameOptions options(
        *registry, [&](const std::string& text, const std::string& caption, MessageBoxIcon) {
            keyFailed = true;
            std::fprintf(err, "%s: %s\n", DecodeToUtf8(caption, settings.CodePage).c_str(),
                         DecodeToUtf8(text, settings.CodePage).c_str());
        });
    if (keyFailed) {
        std::fprintf(err, "torvane-cli: %s\n", registry->LastProblem().c_str());
        return 1;
    }
    for (const std::string& assignment : assignments) {
        const std::size_t equals = assignment.find('=');
        const std::string key = assignment.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : assignment.substr(equals + 1);
        const auto refuse = [&](const char* why) {
            std::fprintf(err, "torvane-cli: --options %s: %s; nothing was saved\n",
                         assignment.c_str(), why);
            return 1;
        };
        if (equals == std::string::npos) return refuse("not KEY=VALUE");
        if (SameName(key, "ID")) {
            const auto wide = DecodeToUtf16(value, "UTF-8");
            const auto bytes = wide ? EncodeFromUtf16(*wide, settings.CodePage) : std::nullopt;
            if (!bytes) return refuse(("not text that " + settings.CodePage + " can hold").c_str());
            if (bytes->size() > kMaxIdLength) return refuse("longer than 10 bytes");
            options.SetIdText(*bytes);
        } else if (SameName(key, "Resolution")) {
            const auto number = Whole(value, 1, 4);
            if (!number) return refuse("must be 1 to 4");
            options.ChooseResolution(*number);
        } else if (SameName(key, "ColorDepth")) {
            const auto number = Whole(value, 0, 1);
            if (!number) return refuse("must be 0 (16-bit) or 1 (32-bit)");
            options.ChooseColorDepth(*number);
        } else if (SameName(key, "SoundOnOff") || SameName(key, "MusicOnOff") ||
                   SameName(key, "WindowMode")) {
            const auto number = Whole(value, 0, 1);
            if (!number) return refuse("must be 0 or 1");
            if (SameName(key, "SoundOnOff")) options.SetSoundChecked(*number == 1);
            if (SameName(key, "MusicOnOff")) options.SetMusicChecked(*number == 1);
            if (SameName(key, "WindowMode")) options.SetWindowModeChecked(*number == 1);
        } else {
            return refuse(
                "unknown; the keys are ID, SoundOnOff, MusicOnOff, Resolution, "
                "ColorDepth, WindowMode");
        }
    }
    if (options.SaveSettings() != GameOptions::SaveResult::Saved || keyFailed) {
        std::fprintf(err, "torvane-cli: %s\n", registry->LastProblem().c_str());
        return 1;
    }
    // Write failures are not reported by the save itself: read the values back.
    const GameSettings wanted = options.Settings();
    const GameOptions stored(*registry, nullptr);
    const GameSettings& saved = stored.Settings();
    if (saved.ID != wanted.ID || saved.SoundOnOff != wanted.SoundOnOff ||
        saved.MusicOnOff != wanted.MusicOnOff || saved.Resolution != wanted.Resolution ||
        saved.ColorDepth != wanted.ColorDepth || saved.WindowMode != wanted.WindowMode) {
        std::fprintf(err, "torvane-cli: the options were not all saved: %s\n",
                     registry->LastProblem().c_str());
        return 1;
    }
    std::fprintf(out,
                 "ID=%s\nSoundOnOff=%d\nMusicOnOff=%d\nResolution=%d\nColorDepth=%d\n"
                 "WindowMode=%d\n",
                 DecodeToUtf8(saved.ID, settings.CodePage).c_str(), saved.SoundOnOff,
                 saved.MusicOnOff, saved.Resolution, saved.ColorDepth, saved.WindowMode);
    return 0;
}
