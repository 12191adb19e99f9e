#pragma once
// The terminal launcher: the same start-up and main window controller as the window
// launcher, with a printing window and a poll() event loop. Exit status: 0 when the client is
// current (and, with --start, the game was handed to the system), 1 when the session or the
// start failed, 2 for bad usage.

#include <string>
#include <vector>

int RunCliLauncher(const std::vector<std::string>& arguments);
