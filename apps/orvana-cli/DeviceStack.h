#pragma once

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

// The command's operator, first among the bases so it exists before the device is reached.
template <class Op>
struct WithOperator {
  explicit WithOperator(bool assumeYes) : op(assumeYes) {}
  Op op;
};

}  // namespace orvana::cli
