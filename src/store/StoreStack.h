#pragma once

#include <cstdint>
#include <string>

#include "common/Operator.h"
#include "flash/PageAccess.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"
#include "store/ClipStore.h"
#include "store/DeviceFlashPort.h"

namespace orvana {

// The device as a program drives it: the link, its sequencer, the page access and a clip store,
// built in that order and torn down in reverse, so that control of the device is given back
// last. One per window, command or test rig.
struct StoreStack {
  StoreStack(const std::string& address, std::uint16_t devicePort, Operator& op,
             std::uint16_t hostPort)
      : link(address, devicePort, op, hostPort),
        flash(link),
        access(link, flash, op),
        port(access),
        store(port, op) {
    store.DeviceName = address + ":" + std::to_string(devicePort);
  }
  StoreStack(const StoreStack&) = delete;
  StoreStack& operator=(const StoreStack&) = delete;

  ITF_ZT link;
  ZT_FLASH flash;
  PageAccess access;
  DeviceFlashPort port;
  ClipStore store;
};

}  // namespace orvana
