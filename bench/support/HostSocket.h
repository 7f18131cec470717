#pragma once

#include <cstdint>

namespace orvana::bench {

// A reply socket on loopback, bound to a port the system picks and added to the ones handed to
// the links of this process (ORVANA_HOST_SOCKETS), so no port is ever probed. The descriptor,
// or -1.
int BindHostSocket(std::uint16_t& port);

}  // namespace orvana::bench
