#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "DevicePeer.h"
#include "common/ScriptedOperator.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"
#include "link/TimingTable.h"
#include "support/TempHome.h"

namespace orvana::test {

// A link to a DevicePeer on loopback, with the sequencer on top.
class PeerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTimingTable();  // every test builds its own link
    peer = std::make_unique<DevicePeer>(hostPort);
    link = std::make_unique<ITF_ZT>("127.0.0.1", peer->port(), op, hostPort);
    link->BoardNumber = 1;
    flash = std::make_unique<ZT_FLASH>(*link);
    peer->clearReceived();
  }

  // Writes whose payload starts at offset 12, keeping only those with `code`.
  std::vector<DevicePeer::Datagram> sent(std::uint8_t code) {
    std::vector<DevicePeer::Datagram> out;
    for (auto& d : peer->received())
      if (!d.empty() && d[0] == code) out.push_back(d);
    return out;
  }

  TempHome home;
  ScriptedOperator op;
  HostSocket hostSocket;  // the link receives on it
  std::uint16_t hostPort = hostSocket.port();
  std::unique_ptr<DevicePeer> peer;
  std::unique_ptr<ITF_ZT> link;
  std::unique_ptr<ZT_FLASH> flash;
};

}  // namespace orvana::test
