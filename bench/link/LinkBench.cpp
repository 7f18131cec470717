// Exchange rate and host CPU of the device link, against a floor measured in the same run.
//
//   (1)  floor: bare loopback request/reply between two spinning sockets
//   (1b) the link against a minimal device in this file: the link's own overhead
//   (2)  the link against the simulated device
//   (3)  the link against the simulated device delaying every reply by 200 us
//
// Many short rounds of all configurations are interleaved and each configuration's best round is
// reported, so that other work on a shared machine does not favour one configuration over another.
// Usage: link_bench [exchanges per round = 500] [rounds = 40]

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "LoopbackFloor.h"
#include "MiniDevice.h"
#include "common/Operator.h"
#include "devsim/DeviceSimulator.h"
#include "link/ITF_ZT.h"
#include "link/TimingTable.h"

using namespace orvana;
using namespace orvana::bench;

namespace {

// Rate and time per exchange from the best round; processor figures over all rounds.
void printRow(const char* what, Shape s, const Rounds& r) {
  const Figures best = r.best();
  const Figures all = r.total();
  std::printf("%-12s %-34s %9.0f /s %8.1f us/exch %8.2f us CPU/exch (%5.1f%% of a processor)\n",
              what, shapeSpec(s).name, best.exchangesPerSecond(), best.microsPerExchange(),
              all.cpuMicrosPerExchange(), 100.0 * all.cpuShare());
}

// One exchange of the given shape through the link.
bool linkExchange(ITF_ZT& link, Shape s, std::vector<std::uint8_t>& buf) {
  const ParameterBlock block{};
  static const std::uint8_t kControlWord[4] = {1, 0, 0, 0};  // chip 0, no cycles
  switch (s) {
    case Shape::BigWrite:
      return link.WriteCommand(kCmdFlashData, &block, buf.data(), 1024);
    case Shape::BigRead:
      return link.ReadCommand(kCmdFlashData, buf.data(), 1024);
    case Shape::SmallWrite:
      return link.WriteCommand(kCmdFlashCycles, &block, kControlWord, 4);
    case Shape::SmallRead:
      return link.ReadCommand(kCmdRegister, buf.data(), 4);
  }
  return false;
}

std::uint16_t freeHostPort() {
  MiniDevice probe(0, 0);
  return probe.port();
}

// A link with the device it talks to.
struct Target {
  const char* name;
  int exchangeDivisor;  // slow targets run fewer exchanges per round
  std::unique_ptr<MiniDevice> mini;
  std::unique_ptr<devsim::DeviceSimulator> sim;
  std::unique_ptr<ITF_ZT> link;
  std::array<Rounds, 4> rounds;
};

}  // namespace

int main(int argc, char** argv) {
  const int exchanges = argc > 1 ? std::atoi(argv[1]) : 500;
  const int roundCount = argc > 2 ? std::atoi(argv[2]) : 40;
  std::printf("%d rounds of %d exchanges per shape (fewer against delayed replies)\n", roundCount,
              exchanges);
  SilentOperator op;

  std::vector<Target> targets;
  auto addMini = [&](const char* name, int delayMicros, int divisor) {
    Target t{name, divisor, nullptr, nullptr, nullptr, {}};
    ResetTimingTable();
    const std::uint16_t hostPort = freeHostPort();
    t.mini = std::make_unique<MiniDevice>(hostPort, delayMicros);
    t.link = std::make_unique<ITF_ZT>("127.0.0.1", t.mini->port(), op, hostPort);
    if (!t.link->IsConnected()) std::printf("warning: %s did not answer\n", name);
    targets.push_back(std::move(t));
  };
  auto addSim = [&](const char* name, std::uint32_t delayMicros, int divisor) {
    Target t{name, divisor, nullptr, nullptr, nullptr, {}};
    ResetTimingTable();
    devsim::DeviceSimulatorOptions o;
    o.replyPort = freeHostPort();
    o.recordTraffic = false;
    if (delayMicros > 0) {
      o.faults.delayShare = 1.0;
      o.faults.delayMicros = delayMicros;
    }
    t.sim = std::make_unique<devsim::DeviceSimulator>(o);
    if (!t.sim->start()) {
      std::printf("error: the simulated device did not start: %s\n", t.sim->error().c_str());
      std::exit(1);
    }
    t.link = std::make_unique<ITF_ZT>("127.0.0.1", t.sim->port(), op, o.replyPort);
    if (!t.link->IsConnected()) std::printf("warning: %s did not answer\n", name);
    targets.push_back(std::move(t));
  };
  addMini("(1b) mini", 0, 1);
  addSim("(2) devsim", 0, 1);
  addSim("(3) devsim+200us", 200, 10);

  std::array<Rounds, 4> floor;
  std::vector<std::uint8_t> buf(1500, 0);
  for (int r = 0; r < roundCount; ++r) {
    for (std::size_t k = 0; k < kShapes.size(); ++k) {
      floor[k].add(measureLoopbackFloor(kShapes[k], exchanges));
      for (auto& t : targets) {
        ITF_ZT& link = *t.link;
        const Shape s = kShapes[k];
        t.rounds[k].add(timeExchanges(exchanges / t.exchangeDivisor,
                                      [&] { return linkExchange(link, s, buf); }));
      }
    }
  }

  std::printf("\nexchange rate and time: best round; host CPU: all rounds, calling thread\n");
  std::printf("\n(1) floor: bare loopback request/reply, both ends spinning\n");
  for (std::size_t k = 0; k < kShapes.size(); ++k) printRow("floor", kShapes[k], floor[k]);
  for (auto& t : targets) {
    std::printf("\n%s\n", t.name);
    for (std::size_t k = 0; k < kShapes.size(); ++k) printRow(t.name, kShapes[k], t.rounds[k]);
    std::printf("  ratio of exchange rates %s / floor:", t.name);
    for (std::size_t k = 0; k < kShapes.size(); ++k)
      std::printf(" %.2f",
                  t.rounds[k].best().exchangesPerSecond() / floor[k].best().exchangesPerSecond());
    std::printf("\n  link counters: S-%d R-%d C-%d\n", t.link->WriteFailures, t.link->ReadFailures,
                t.link->PollConfirms);
  }
  // Targets: (2) at least 80% of the floor's exchange rate; (3) under 25% of a processor.
  const Target& two = targets[1];
  const Target& three = targets[2];
  bool met = true;
  std::printf("\ntargets\n");
  for (std::size_t k = 0; k < kShapes.size(); ++k) {
    const double ratio =
        two.rounds[k].best().exchangesPerSecond() / floor[k].best().exchangesPerSecond();
    const double share = three.rounds[k].total().cpuShare();
    std::printf("  %-34s (2)/(1) %.2f %s   (3) CPU %.1f%% %s\n", shapeSpec(kShapes[k]).name, ratio,
                ratio >= 0.8 ? "ok" : "BELOW 0.80", 100 * share, share < 0.25 ? "ok" : "ABOVE 25%");
    met = met && ratio >= 0.8 && share < 0.25;
  }
  std::printf("all targets %s\n", met ? "met" : "NOT met");
  targets.clear();
  return 0;
}
