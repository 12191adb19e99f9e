#pragma once
// The whole terminal launcher against the development connect server, for the end-to-end
// tests: the connect server hands out `patchSettings` (its patch-server lines) and one game
// server; the launcher patches `game` and exits.

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace patchtest {

// Writes connectd.conf and torvane.conf under `top` (with `extraSettings` appended to the
// latter), runs both programs and returns the launcher's result.
testsupport::RunResult RunCliLauncher(const std::filesystem::path& top,
                                      const std::filesystem::path& game,
                                      const std::string& patchSettings,
                                      const std::string& extraSettings = "",
                                      const std::vector<std::string>& extraArguments = {});

}  // namespace patchtest
