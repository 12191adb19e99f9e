#include "ui/MainWindowLayout.h"

namespace skin {

std::optional<ButtonSpec> FindMainButton(int id) {
    for (const auto& spec : kMainButtons) {
        if (spec.Id == id) return spec;
    }
    if (id >= kFirstServerButton && id < kFirstServerButton + kServerButtonCount) {
        return ServerButton(id - kFirstServerButton);
    }
    return std::nullopt;
}

}  // namespace skin
