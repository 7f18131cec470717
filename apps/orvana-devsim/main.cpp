// orvana-devsim: the simulated device as a program. Serves until SIGINT or SIGTERM.

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "devsim/DeviceSimulator.h"

using orvana::devsim::DeviceSimulator;
using orvana::devsim::DeviceSimulatorOptions;

int main(int argc, char** argv) {
  CLI::App app{"Simulated device: register image and twelve NAND chips over UDP"};
  DeviceSimulatorOptions options;
  std::string store;
  std::vector<std::string> failErase, failProgram, corruptProgram, flips;
  bool delayShareGiven = false;
  app.add_option("--address", options.address, "IPv4 address to listen on")->capture_default_str();
  app.add_option("--port", options.port, "UDP port to listen on (0: any free port)")
      ->capture_default_str();
  app.add_option("--reply-port", options.replyPort, "port of the host that receives replies")
      ->capture_default_str();
  app.add_option("--store", store, "folder of the chip files (default: memory only)");
  app.add_option("--seed", options.faults.seed, "seed of the fault generator")
      ->capture_default_str();
  app.add_option("--drop", options.faults.dropReplyShare, "share of replies dropped")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--duplicate", options.faults.duplicateReplyShare, "share of replies sent twice")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--delay-us", options.faults.delayMicros, "delay of delayed replies, in µs");
  app.add_option("--delay-share", options.faults.delayShare,
                 "share of replies delayed (default 1 when --delay-us is given)")
      ->check(CLI::Range(0.0, 1.0))
      ->each([&](const std::string&) { delayShareGiven = true; });
  app.add_option("--drop-requests", options.faults.dropRequestShare,
                 "share of requests ignored as if lost")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--busy-reads", options.faults.busyReads,
                 "status reads that show busy after every program and erase");
  app.add_option("--fail-erase", failErase, "CHIP:BLOCK whose erase fails (repeatable)");
  app.add_option("--fail-program", failProgram, "CHIP:BLOCK whose programs fail (repeatable)");
  app.add_option("--corrupt-program", corruptProgram,
                 "CHIP:BLOCK whose programs store other data that reads back clean (repeatable)");
  app.add_option("--flip", flips, "CHIP:ROW:BYTE:BIT read back inverted (repeatable)");
  app.add_flag("--silent", options.faults.silent, "answer nothing");
  CLI11_PARSE(app, argc, argv);

  // Without a log reader in this program, keeping datagrams only costs memory.
  options.recordTraffic = false;
  options.store = store;
  if (options.faults.delayMicros > 0 && !delayShareGiven) options.faults.delayShare = 1.0;
  const std::pair<const char*, std::vector<std::string>*> blockOptions[] = {
      {"--fail-erase", &failErase},
      {"--fail-program", &failProgram},
      {"--corrupt-program", &corruptProgram}};
  std::vector<orvana::devsim::BlockRef>* blockLists[] = {
      &options.faults.failErase, &options.faults.failProgram, &options.faults.corruptProgram};
  for (std::size_t k = 0; k < std::size(blockOptions); ++k) {
    for (const auto& text : *blockOptions[k].second) {
      orvana::devsim::BlockRef ref;
      if (!orvana::devsim::parseBlockRef(text, ref)) {
        std::cerr << blockOptions[k].first << ": expected CHIP:BLOCK, got " << text << "\n";
        return 2;
      }
      blockLists[k]->push_back(ref);
    }
  }
  for (const auto& text : flips) {
    orvana::devsim::BitFlip flip;
    if (!orvana::devsim::parseBitFlip(text, flip)) {
      std::cerr << "--flip: expected CHIP:ROW:BYTE:BIT, got " << text << "\n";
      return 2;
    }
    options.faults.flips.push_back(flip);
  }

  // Block the stop signals before the server thread exists, so only sigwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  DeviceSimulator sim(options);
  if (!sim.start()) {
    std::cerr << "orvana-devsim: " << sim.error() << "\n";
    return 1;
  }
  std::printf("listening on %s:%u\n", options.address.c_str(), static_cast<unsigned>(sim.port()));
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  sim.stop();
  return 0;
}
