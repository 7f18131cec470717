#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "Cli.h"
#include "Json.h"
#include "TerminalOperator.h"
#include "link/ITF_ZT.h"
#include "link/TUDPSocket.h"
#include "link/ZT_MEM.h"

namespace orvana::cli {
namespace {

struct ClipSelect {
  int chip;
  int clip;
  int strobe;
};

struct LinkInfo {
  DeviceEndpoint endpoint;
  bool connected = false;
  bool dead = false;
  std::string control;
  int controlByte = 0;
  int boardNumber = 0;
  int boardKind = 0;
  std::string boardName;
  int lastFailed = 0;
  int pollConfirms = 0;
  int writeFailures = 0;
  int readFailures = 0;
  std::vector<ClipSelect> clipSelects;
};

LinkInfo gatherInfo(const DeviceEndpoint& ep, TerminalOperator& op) {
  LinkInfo info;
  info.endpoint = ep;
  auto link = std::make_unique<ITF_ZT>(ep.address, ep.port, op, ep.hostPort);
  const auto& image = link->mem().image();
  info.dead = link->LinkDead != 0;
  info.controlByte = image[0];
  if (link->OwnerFlag != 0) {
    info.control = op.terminateRequested() ? "declined" : "taken";
  } else if (op.terminateRequested()) {
    info.control = "declined: held by another program";
  } else {
    info.control = "not taken";
  }
  info.boardNumber = link->BoardNumber;
  info.boardKind = link->BoardKind;
  for (const auto& e : link->BoardTable)
    if (e.id == link->BoardNumber) {
      info.boardName = e.name;
      break;
    }
  for (int chip : {0, 2, 4, 8, 10}) {
    const auto at = static_cast<std::size_t>(ClipSelectOffset(chip));
    info.clipSelects.push_back({chip, image[at], image[at + 1]});
  }
  info.connected = link->IsConnected();
  info.lastFailed = link->LastFailed;
  info.pollConfirms = link->PollConfirms;
  info.writeFailures = link->WriteFailures;
  info.readFailures = link->ReadFailures;
  link.reset();  // gives the device back
  return info;
}

void printText(const LinkInfo& i) {
  std::printf("device:        %s:%u (replies to host port %u)\n", i.endpoint.address.c_str(),
              i.endpoint.port, i.endpoint.hostPort);
  std::printf("connected:     %s%s\n", i.connected ? "yes" : "no",
              i.dead ? " (link dead: no usable socket or address)" : "");
  std::printf("control:       %s (device-control byte %d)\n", i.control.c_str(), i.controlByte);
  std::printf("board:         %d, kind %d (%s)\n", i.boardNumber, i.boardKind,
              i.boardName.empty() ? "unknown" : i.boardName.c_str());
  std::printf("LastFailed:    %d\n", i.lastFailed);
  std::printf("counters:      C-%d S-%d R-%d\n", i.pollConfirms, i.writeFailures, i.readFailures);
  std::printf("clip select:  ");
  for (const auto& c : i.clipSelects)
    std::printf(" chip %d: clip %d strobe %d;", c.chip, c.clip, c.strobe);
  std::printf("\n");
}

void printJson(const LinkInfo& i) {
  json::Writer w;
  w.beginObject()
      .field("device", i.endpoint.address)
      .field("port", i.endpoint.port)
      .field("host_port", i.endpoint.hostPort)
      .field("connected", i.connected)
      .field("link_dead", i.dead)
      .field("control", i.control)
      .field("device_control_byte", i.controlByte)
      .field("board_number", i.boardNumber)
      .field("board_kind", i.boardKind)
      .field("board_name",
             i.boardName.empty() ? std::nullopt : std::optional<std::string>(i.boardName))
      .field("last_failed", i.lastFailed)
      .field("poll_confirms", i.pollConfirms)
      .field("write_failures", i.writeFailures)
      .field("read_failures", i.readFailures)
      .key("clip_select")
      .beginArray();
  for (const auto& c : i.clipSelects)
    w.beginObject()
        .field("chip", c.chip)
        .field("clip", c.clip)
        .field("strobe", c.strobe)
        .endObject();
  w.endArray().endObject();
  json::print(w);
}

}  // namespace

void addLinkCommands(CLI::App& app, Globals& g, int& exitCode) {
  auto* info = app.add_subcommand(
      "info", "Connect to the device, take control, show the link state and give control back");
  auto json = std::make_shared<bool>(false);
  info->add_flag("--json", *json, "Print one JSON object");
  info->callback([&g, &exitCode, json] {
    const DeviceEndpoint ep = g.endpoint();
    TerminalOperator op(g.yes);
    if (ep.address.empty())
      op.message("No device address (give --device ADDR[:PORT]); nothing is sent.");
    else if (!ParseDottedIPv4(ep.address))
      op.message("The device address \"" + ep.address +
                 "\" is not a dotted IPv4 address; nothing is sent.");
    const LinkInfo i = gatherInfo(ep, op);
    if (*json)
      printJson(i);
    else
      printText(i);
    if (!i.connected && ParseDottedIPv4(ep.address))
      std::fprintf(stderr, "No answer from the device at %s:%u.\n", ep.address.c_str(),
                   static_cast<unsigned>(ep.port));
    exitCode = i.connected ? 0 : 1;
  });
}

}  // namespace orvana::cli
