#include "net/LauncherState.h"

#include <bit>

static_assert(std::endian::native == std::endian::little,
              "ServerEntry is copied from the wire as it stands");

LauncherState g_State;
