#pragma once

#include "Cli.h"
#include "common/DeviceEndpoint.h"
#include "common/Operator.h"
#include "flash/PageAccess.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"
#include "store/ClipStore.h"
#include "store/DeviceFlashPort.h"

namespace orvana::cli {

// The device as one command uses it: the link, its sequencer, the page access and a clip store,
// built in that order and torn down in reverse, which gives control of the device back.
struct DeviceStack {
  DeviceStack(const Globals& g, Operator& op)
      : endpoint(g.endpoint()),
        link(endpoint.address, endpoint.port, op, endpoint.hostPort),
        flash(link),
        access(link, flash, op),
        port(access),
        store(port, op) {}

  DeviceEndpoint endpoint;
  ITF_ZT link;
  ZT_FLASH flash;
  PageAccess access;
  DeviceFlashPort port;
  ClipStore store;
};

// The command's operator, first among the bases so it exists before the device is reached.
template <class Op>
struct WithOperator {
  explicit WithOperator(bool assumeYes) : op(assumeYes) {}
  Op op;
};

}  // namespace orvana::cli
