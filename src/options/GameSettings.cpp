#include "options/GameSettings.h"

void ValidateSettings(GameSettings& settings) {
    if (settings.Resolution < 1 || settings.Resolution > 4) settings.Resolution = 2;
    if (settings.MusicOnOff < 0 || settings.MusicOnOff > 1) settings.MusicOnOff = 1;
    if (settings.ColorDepth < 0 || settings.ColorDepth > 1) settings.ColorDepth = 0;
}

std::int32_t SyncWindowModeSetting(Registry& registry) {
    constexpr RegistryRoot root = RegistryRoot::CurrentUser;
    bool created = false;
    if (registry.CreateKey(root, kGameConfigKey, &created) != Registry::Status::Ok) return 0;
    std::uint32_t stored = 0;
    if (created ||
        registry.QueryDword(root, kGameConfigKey, "WindowMode", &stored) != Registry::Status::Ok) {
        registry.SetDword(root, kGameConfigKey, "WindowMode", 0);
        registry.Commit();
        return 0;
    }
    return static_cast<std::int32_t>(stored);
}
