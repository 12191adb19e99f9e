#pragma once
// The environment a Windows game client starts in under Wine: its prefix (WINEPREFIX) and the
// locale of the deployment's code page (LC_ALL), so that Wine hands the command line's bytes
// and the registry's texts to the client in that code page. A locale the system lacks is
// generated with localedef into the user's cache ($XDG_CACHE_HOME/torvane/locale) and found
// there through LOCPATH; no administrator rights are needed.

#include <string>
#include <vector>

#include "platform/DeploymentSettings.h"

// Whether the client is started through Wine: the launch command is a Wine program, or the
// registry is a Wine prefix.
bool LaunchesThroughWine(const DeploymentSettings& settings);

// wine_locale, else the usual locale of the code page ("ko_KR.CP949" for CP949); empty when
// the code page has none known.
std::string WineLocaleFor(const DeploymentSettings& settings);

struct WineEnvironment {
    std::vector<std::string> Variables;  // "NAME=value"
    std::string Problem;                 // what could not be arranged (the start goes on)
};
WineEnvironment PrepareWineEnvironment(const DeploymentSettings& settings);
