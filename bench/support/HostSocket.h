#pragma once

#include <cstdint>

namespace orvana::bench {

// The host's reply socket on loopback, bound to a port the system picks and handed to every link
// of this process (ORVANA_HOST_SOCKETS), so no port is ever probed. The descriptor, or -1.
int BindHostSocket(std::uint16_t& port);

}  // namespace orvana::bench
