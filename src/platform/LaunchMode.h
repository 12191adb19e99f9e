#pragma once
// How this run of the launcher was started, as its command-line switches chose. The connect
// server may turn a given-version run into a normal one; the patch engine reads the mode to
// decide which version it loads and saves.

#include <cstdint>

enum LaunchModeValue : std::int32_t {
    kLaunchNormal = 0,
    kLaunchTestClient = 1,
    kLaunchGivenVersion = 2
};
