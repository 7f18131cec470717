#pragma once

#include <cstdio>

#include "Cli.h"
#include "common/DeviceEndpoint.h"
#include "common/Operator.h"
#include "store/StoreStack.h"

namespace orvana::cli {

// The device stack at the address the command was given.
struct DeviceStack : StoreStack {
  DeviceStack(const Globals& g, Operator& op) : DeviceStack(g.endpoint(), op) {}

  DeviceEndpoint endpoint;

 private:
  DeviceStack(const DeviceEndpoint& ep, Operator& op)
      : StoreStack(ep.address, ep.port, op, ep.hostPort), endpoint(ep) {}
};

// Connects the chip; false (with a note on stderr) when its directory did not load.
inline bool connectChip(DeviceStack& s, int chip) {
  s.store.SelectChip(chip);
  if (s.store.Connected()) return true;
  if (!s.link.IsConnected())
    std::fprintf(stderr, "No answer from the device at %s:%u.\n", s.endpoint.address.c_str(),
                 static_cast<unsigned>(s.endpoint.port));
  else
    std::fprintf(stderr, "Chip %d: not connected.\n", chip);
  return false;
}

// The command's operator, first among the bases so it exists before the device is reached.
template <class Op>
struct WithOperator {
  explicit WithOperator(bool assumeYes) : op(assumeYes) {}
  Op op;
};

}  // namespace orvana::cli
