#pragma once
// Where the launcher runs and what the deployment chose: what the start-up hands to the main
// window controller.

#include <cstdint>
#include <filesystem>

#include "platform/DeploymentSettings.h"
#include "platform/EventLog.h"

struct LauncherEnvironment {
    DeploymentSettings Settings;
    std::filesystem::path GameDirectory;  // the launcher's working directory (message.wtf,
                                          // config.ini and Temp are there)
    std::filesystem::path ProgramPath;    // the launcher's own file (desktop entry)
    EventLog* Log = nullptr;              // the run's log (see EventLog.h); none: no log
    // A connect server that accepts but sends no greeting within this long counts as a failed
    // connect: the connection is dropped and tried again.
    std::uint32_t GreetingTimeoutMs = 10000;
};
