#include "patch/QuietPatchHost.h"

std::string QuietPatchHost::MessageText(int messageNumber) {
    return "message " + std::to_string(messageNumber);
}
