#pragma once
// The game client's display and sound settings as the launcher stores them for it, in the
// current user's registry key below. The game reads them when it starts; only the value
// names, types, encodings and defaults are shared with it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Registry.h"

inline constexpr char kGameConfigKey[] = "SOFTWARE\\Varnok\\KA\\Config";
// The account name box takes at most this many bytes (deployment code page).
inline constexpr std::size_t kMaxIdLength = 10;
// Longer stored names than this do not fit the read buffer and are replaced by "".
inline constexpr std::size_t kIdReadBufferSize = 64;

struct GameSettings {
    std::string ID;               // "ID", REG_SZ: account name shown pre-filled at login
    std::int32_t SoundOnOff = 1;  // "SoundOnOff": effects, 1 on, 0 off
    std::int32_t MusicOnOff = 1;  // "MusicOnOff": background music, 1 on, 0 off
    std::int32_t Resolution = 2;  // "Resolution": choice 1..4 of the resolution buttons
    std::int32_t ColorDepth = 0;  // "ColorDepth": 0 = 16-bit, 1 = 32-bit colour
    std::int32_t WindowMode = 0;  // "WindowMode": 1 windowed, 0 full screen
};

// Brings the values the game cannot take back to their defaults before saving: Resolution
// outside 1..4 becomes 2, MusicOnOff outside 0..1 becomes 1, ColorDepth outside 0..1
// becomes 0. SoundOnOff and WindowMode are passed through.
void ValidateSettings(GameSettings& settings);

// Start-up check of the window-mode value: a new key or a missing/unreadable value gets
// "WindowMode" = 0 written; otherwise the stored value is returned. Failures are silent and
// give 0.
std::int32_t SyncWindowModeSetting(Registry& registry);
