#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "ScriptedPeer.h"
#include "common/ScriptedOperator.h"
#include "link/ITF_ZT.h"
#include "link/TimingTable.h"
#include "link/ZT_MEM.h"
#include "support/TempHome.h"

namespace orvana::test {

// A link to a scripted peer on loopback; the timing table starts from its stored values.
class LinkFixture : public ::testing::Test {
 protected:
  using Clock = std::chrono::steady_clock;

  void SetUp() override {
    ResetTimingTable();
    peer = std::make_unique<ScriptedPeer>(hostPort);
  }
  void TearDown() override {
    link.reset();
    peer.reset();
  }

  // On `onPort` instead of the fixture's host port when given.
  ITF_ZT& makeLink(const std::string& address = "127.0.0.1", std::uint16_t onPort = 0) {
    link = std::make_unique<ITF_ZT>(address, peer->port(), op, onPort != 0 ? onPort : hostPort);
    return *link;
  }

  // Packets the host sent that match a predicate.
  static bool isPoll(const Bytes& b) { return b == Bytes{0xFF, 0x00, 0x05, 0x00}; }
  static bool isWrite(const Bytes& b) { return b.size() >= 12 && (b[1] & 0x80) != 0; }

  static double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
  }

  TempHome home;
  ScriptedOperator op;
  HostSocket hostSocket;  // every link of the test receives on it
  std::uint16_t hostPort = hostSocket.port();
  std::unique_ptr<ScriptedPeer> peer;
  std::unique_ptr<ITF_ZT> link;
};

}  // namespace orvana::test
