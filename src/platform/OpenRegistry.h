#pragma once
// The registry store the deployment chose: our own files (registry = files) or the Wine prefix
// of a Windows game client (registry = wine).

#include <memory>

#include "platform/DeploymentSettings.h"
#include "platform/Registry.h"

std::unique_ptr<Registry> OpenRegistry(const DeploymentSettings& settings);
