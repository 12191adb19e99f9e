// vkc restore: a compressed data file restored beside DESTDIR.

#include <iostream>

#include "Commands.h"
#include "archive/UnpackFile.h"

int VkcRestore(const Arguments& args) {
    if (args.size() != 2) {
        std::cerr << "usage: torvane-tool vkc restore FILE DESTDIR\n";
        return 64;
    }
    std::string destination = args[1];
    if (destination.empty() || destination.back() != '/') destination += '/';
    const int result = UnpackFile(UnpackControl{}, args[0], destination);
    if (result != 1) std::cerr << "cannot restore " << args[0] << "\n";
    return result == 1 ? 0 : 1;
}
