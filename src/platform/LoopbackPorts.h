#pragma once

#include <cstdint>
#include <optional>

namespace quenda {

// True when nothing listens on 127.0.0.1:`port`, so a server started now would have it alone.
// (Servers that bind with SO_REUSEPORT would otherwise share a taken port silently.)
bool isLoopbackPortFree(uint16_t port);

// A port on 127.0.0.1 that nothing uses at the moment, chosen by the system.
std::optional<uint16_t> findFreeLoopbackPort();

}  // namespace quenda
