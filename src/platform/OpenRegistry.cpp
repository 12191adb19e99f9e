#include "platform/OpenRegistry.h"

#include "platform/FileRegistry.h"
#include "platform/WineRegistry.h"

std::unique_ptr<Registry> OpenRegistry(const DeploymentSettings& settings) {
    if (settings.RegistryStore == DeploymentSettings::RegistryKind::Wine) {
        WineRegistryOptions options;
        options.Prefix = settings.WinePrefix;
        options.ClientBits = settings.WineClientBits;
        options.CodePage = settings.CodePage;
        return std::make_unique<WineRegistry>(options);
    }
    return std::make_unique<FileRegistry>(settings.RegistryDirectory);
}
