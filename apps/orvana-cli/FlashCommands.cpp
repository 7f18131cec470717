// Service commands for single pages: read, program, erase a block, read the chip status.
// Useful when something on a device looks wrong; every command selects the chip and brackets
// its page operation with host access, as the store does.

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Cli.h"
#include "DeviceStack.h"
#include "Json.h"
#include "TerminalOperator.h"
#include "common/AtomicFile.h"
#include "flash/PageAccess.h"
#include "flash/PageBuffer.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"

namespace orvana::cli {

namespace {

enum ExitCode { kOk = 0, kFailed = 1, kBadInput = 2 };

struct PageOptions {
  int chip = 0;
  std::uint32_t row = 0;
  bool ecc = false;
  bool json = false;
  std::string file;
};

// One device stack for the life of one command.
struct Session : WithOperator<TerminalOperator>, DeviceStack {
  explicit Session(const Globals& g) : WithOperator(g.yes), DeviceStack(g, op) {}

  // Selects the chip; false (with a message) when the device does not answer.
  bool connect(int chip) {
    if (!link.IsConnected() || !flash.SetChipSelect(chip)) {
      std::cerr << "No answer from the device at " << endpoint.address << ":" << endpoint.port
                << "." << std::endl;
      return false;
    }
    return true;
  }
};

void addChipOption(CLI::App* cmd, int& chip) {
  cmd->add_option("--chip", chip, "Chip 0..11")->required()->check(CLI::Range(0, 11));
}

void addRowOption(CLI::App* cmd, std::uint32_t& row) {
  cmd->add_option("--row", row, "Page number within the chip")
      ->required()
      ->check(CLI::Range(std::uint32_t{0}, kLastRow));
}

void printHex(const std::uint8_t* data, std::size_t n) {
  for (std::size_t off = 0; off < n; off += 16) {
    std::printf("%04zx:", off);
    for (std::size_t i = off; i < off + 16 && i < n; ++i) std::printf(" %02x", data[i]);
    std::printf("\n");
  }
}

int pageRead(const Globals& g, const PageOptions& o) {
  Session s(g);
  if (!s.connect(o.chip)) return kFailed;
  PageBuffer page{};
  s.access.BeginFlashAccess();
  const bool ok = s.access.ReadFlashPage(page.data(), o.row, o.ecc ? 1 : 0);
  s.access.EndFlashAccess();
  if (!ok) return kFailed;
  const std::size_t n = o.ecc ? kPayloadBytes : kPageBytes;
  if (o.file.empty()) {
    printHex(page.data(), n);
  } else if (!WriteFileAtomically(o.file,
                                  std::vector<std::uint8_t>(page.data(), page.data() + n))) {
    std::cerr << "Cannot write " << o.file << "." << std::endl;
    return kFailed;
  }
  if (o.ecc) std::cerr << "Corrected bits: " << s.flash.Corrections << std::endl;
  return kOk;
}

int pageWrite(const Globals& g, const PageOptions& o) {
  // The file is checked before the device is touched: a short or long file is refused rather
  // than padded or cut.
  std::ifstream in(o.file, std::ios::binary);
  if (!in) {
    std::cerr << "Cannot open " << o.file << "." << std::endl;
    return kBadInput;
  }
  const std::size_t expected = o.ecc ? kPayloadBytes : kPageBytes;
  // One byte more than a page tells a long file without reading all of it.
  std::vector<char> data(expected + 1);
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  data.resize(static_cast<std::size_t>(in.gcount()));
  if (data.size() != expected) {
    std::cerr << o.file << (data.size() > expected ? " holds more than " : " holds ")
              << std::min(data.size(), expected) << " bytes; expected " << expected << "."
              << std::endl;
    return kBadInput;
  }
  PageBuffer page{};
  for (std::size_t i = 0; i < data.size(); ++i) page[i] = static_cast<std::uint8_t>(data[i]);

  Session s(g);
  if (!s.connect(o.chip)) return kFailed;
  s.access.BeginFlashAccess();
  const bool ok = s.access.WriteFlashPage(page.data(), o.row, o.ecc ? 1 : 0);
  s.access.EndFlashAccess();
  return ok ? kOk : kFailed;
}

int erase(const Globals& g, const PageOptions& o) {
  Session s(g);
  if (!s.connect(o.chip)) return kFailed;
  s.access.BeginFlashAccess();
  const bool ok = s.access.EraseFlashBlock(o.row);
  s.access.EndFlashAccess();
  if (!ok) std::cerr << "Erase failed." << std::endl;
  return ok ? kOk : kFailed;
}

int status(const Globals& g, const PageOptions& o) {
  Session s(g);
  if (!s.connect(o.chip)) return kFailed;
  const std::uint8_t st = s.flash.ReadStatus();
  if (st == 0) {
    std::cerr << "Status read failed." << std::endl;
    return kFailed;
  }
  const bool ready = ZT_FLASH::IsReady(st);
  const bool busy = (st & 0x40) == 0;
  const bool failed = !busy && (st & 0x03) != 0;
  const char* meaning = ready    ? "ready"
                        : busy   ? "busy"
                        : failed ? "ready, last operation failed"
                                 : "ready, array busy";
  if (o.json) {
    json::Writer w;
    json::print(w.beginObject()
                    .field("chip", o.chip)
                    .field("status", st)
                    .field("ready", ready)
                    .field("busy", busy)
                    .field("failed", failed)
                    .field("meaning", meaning)
                    .endObject());
  } else {
    std::printf("0x%02x %s\n", st, meaning);
  }
  return kOk;
}

}  // namespace

void addFlashCommands(CLI::App& app, Globals& g, int& exitCode) {
  auto opts = std::make_shared<PageOptions>();

  auto* page = app.add_subcommand("page", "Read or program one flash page");
  page->require_subcommand(1);

  auto* read = page->add_subcommand("read", "Read a page (hex on stdout, or to a file)");
  addChipOption(read, opts->chip);
  addRowOption(read, opts->row);
  read->add_flag("--ecc", opts->ecc, "Decode the 7280-byte payload through the page ECC");
  read->add_option("-o,--output", opts->file, "Write the bytes to FILE");
  read->callback([&g, &exitCode, opts] { exitCode = pageRead(g, *opts); });

  auto* write = page->add_subcommand("write", "Program a page from a file");
  addChipOption(write, opts->chip);
  addRowOption(write, opts->row);
  write->add_flag("--ecc", opts->ecc, "FILE holds the 7280-byte payload; store it with ECC");
  write->add_option("file", opts->file, "8192 bytes (7280 with --ecc)")->required();
  write->callback([&g, &exitCode, opts] { exitCode = pageWrite(g, *opts); });

  auto* er = app.add_subcommand("erase", "Erase the 256-page block holding a row");
  addChipOption(er, opts->chip);
  addRowOption(er, opts->row);
  er->callback([&g, &exitCode, opts] { exitCode = erase(g, *opts); });

  auto* st = app.add_subcommand("status", "Read a chip's status byte");
  addChipOption(st, opts->chip);
  st->add_flag("--json", opts->json, "Print one JSON object");
  st->callback([&g, &exitCode, opts] { exitCode = status(g, *opts); });
}

}  // namespace orvana::cli
