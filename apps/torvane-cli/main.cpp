// torvane-cli: the launcher in a terminal (see src/cli/CliLauncher.h).

#include <string>
#include <vector>

#include "cli/CliLauncher.h"

int main(int argc, char** argv) {
    return RunCliLauncher(std::vector<std::string>(argv + 1, argv + argc));
}
