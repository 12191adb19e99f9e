#pragma once
// Running a helper program to its end (Wine's registry tools, localedef) and collecting what
// it printed, for the places where the launcher needs its outcome before going on.

#include <string>
#include <vector>

struct ProgramResult {
    bool Started = false;  // false: it could not be run at all (see Error)
    int ExitCode = -1;     // the exit status; -1 when it was ended by a signal
    int Error = 0;         // errno of the failed start
    std::string Output;    // standard output and standard error together
};

// argv[0] is a path or a name looked up in PATH. `environment` entries ("NAME=value") are set
// on top of the launcher's own environment.
ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {});
