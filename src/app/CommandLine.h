#pragma once
// The launcher's command-line switches: only the first whitespace-delimited token selects
// one, compared case-sensitively and whole.
//   "/t"            test client: LaunchMode 1, TestServer 1
//   "/r"            normal client: LaunchMode 0, TestServer 0
//   "/l VERSION"    client version given: LaunchMode 2, CommandLineVersion from "a.b.c"
// Anything else is ignored, together with the rest of the line.

#include <string_view>

struct LauncherState;

void ApplyCommandLineSwitches(std::string_view commandLine, LauncherState& state);
