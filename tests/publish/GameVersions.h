#pragma once
// Five versions of a small game tree, as the round trip publishes them: files and directories
// added, changed and removed, names in mixed case, files the launcher installs under
// substitute names, and a last version for the test server only.

#include <string>
#include <vector>

#include "PublishFixture.h"

namespace publishtest {

struct GameVersion {
    std::string Label;
    Tree Files;
    bool TestServer = false;
};

std::vector<GameVersion> FiveGameVersions();

}  // namespace publishtest
