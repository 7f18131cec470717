#include "link/ITF_ZT.h"

#include <cstring>

#include "common/Tick.h"
#include "link/TUDPSocket.h"
#include "link/ZT_MEM.h"

namespace orvana {
namespace {

constexpr char kTakeoverQuestion[] =
    "Device is managed by another program. Take the device control?";

void putU16(std::uint8_t* p, int value) {
  p[0] = static_cast<std::uint8_t>(value & 0xFF);
  p[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

struct NamedBoard {
  int entry;
  const char* name;
  std::int32_t id;
  std::int32_t kind;
};

constexpr NamedBoard kNamedBoards[] = {
    {0, "IN_Board 1", 21, 3},   {1, "IN_Board 2", 23, 2},   {2, "IN_Board 3", 25, 1},
    {3, "IN_Board 4", 22, 3},   {4, "IN_Board 5", 24, 2},   {5, "IN_Board 6", 26, 1},
    {6, "CPU", 1, 0},           {7, "OUT_Board 1", 41, 3},  {8, "OUT_Board 2", 42, 2},
    {9, "OUT_Board 3", 43, 1},  {10, "OUT_Board 4", 44, 3}, {11, "OPT_Board 1", 55, 2},
    {12, "OPT_Board 2", 56, 1}, {20, "OUT-on-IN 1", 31, 3}, {21, "OUT-on-IN 2", 33, 2},
    {22, "OUT-on-IN 3", 35, 1}, {23, "OUT-on-IN 4", 32, 3}, {24, "OUT-on-IN 5", 34, 2},
    {25, "OUT-on-IN 6", 36, 1},
};

void setName(BoardEntry& e, const char* name) {
  std::memset(e.name, 0, sizeof e.name);
  std::strncpy(e.name, name, sizeof e.name - 1);
}

}  // namespace

int ReplyOffset(std::uint8_t code) {
  switch (code) {
    case 128:
      return 2;
    case 129:
      return 4;
    case 130:
      return 4;
    case 132:
      return 6;
    case 133:
      return 6;
    case 136:
      return 7;
    case 150:
      return 5;
    default:
      return 1;
  }
}

ParameterBlock RegisterBlock(std::uint16_t offset) {
  ParameterBlock b{};
  b[0] = 1;
  putU16(&b[1], offset);
  return b;
}

bool IsAcknowledgement(const std::uint8_t* reply, int got, std::uint8_t code) {
  return got == 4 && reply[0] == code;
}

int PollReplyVerdict(const std::uint8_t* reply, int got, std::uint8_t sequence) {
  if (got != 5 || reply[0] != kCmdPoll) return -1;
  return reply[4] == sequence ? 1 : 0;
}

bool TakeReadReply(const std::uint8_t* reply, int got, std::uint8_t code, std::uint8_t* destination,
                   int n) {
  if (n <= 0) return false;
  const int offset = 12 + ReplyOffset(code);
  const int r = n + offset;
  if (r > kPacketSize || got != r || reply[0] != code) return false;
  std::memcpy(destination, reply + offset, static_cast<std::size_t>(n));
  return true;
}

BoardTableArray DefaultBoardTable() {
  BoardTableArray table{};
  for (auto& e : table) {
    setName(e, "Unknown");
    e.id = 0;
    e.kind = 0;
  }
  for (const auto& b : kNamedBoards) {
    auto& e = table[static_cast<std::size_t>(b.entry)];
    setName(e, b.name);
    e.id = b.id;
    e.kind = b.kind;
  }
  return table;
}

ITF_ZT::ITF_ZT(const std::string& address, std::uint16_t port, Operator& op, std::uint16_t hostPort)
    : op_(op) {
  auto& t = TimingTable();
  if (!t.halved) {
    t.ReceiveWait /= 2u;
    t.PollWindow /= 2u;
    t.WriteAttempts /= 2;
    t.ReadWindow /= 2u;
    t.halved = true;
  }
  t.link = this;

  sender_ = std::make_unique<TClientUDPSocket>(address, port);
  receiver_ = std::make_unique<TServerUDPSocket>(hostPort, op_);
  if (!sender_->IsOpen() || !receiver_->IsOpen()) LinkDead = 1;
  // Replies count only when they come from the device.
  if (auto a = ParseDottedIPv4(address)) receiver_->AcceptOnlyFrom(*a);

  mem_ = std::make_unique<ZT_MEM>(*this);
  LastFailed = 1;
  deviceControlStartUp();
}

ITF_ZT::~ITF_ZT() {
  if (OwnerFlag != 0) {
    OwnerFlag = 0;
    mem_->WriteRegister(0, 0, 0);
  }
  mem_.reset();
  sender_.reset();
  receiver_.reset();
  if (TimingTable().link == this) TimingTable().link = nullptr;
}

void ITF_ZT::deviceControlStartUp() {
  BoardTable = DefaultBoardTable();
  if (!SelectBoard(0)) return;
  std::uint8_t unused = 0;
  (void)mem_->ReadRegister(0, 2, unused);
  if (!mem_->ReadRegister(0, 0, OwnerFlag)) return;
  (void)mem_->ReadImage();
  if (OwnerFlag != 0) {
    if (!op_.confirm(kTakeoverQuestion)) {
      // We never held the device, so the release must leave the other program's mark alone.
      OwnerFlag = 0;
      op_.requestTerminate();
    }
    return;
  }
  OwnerFlag = 1;
  mem_->WriteRegister(0, 0, 1);
}

void ITF_ZT::advanceSequence() {
  Sequence = static_cast<std::uint8_t>(Sequence + 1);
  if (Sequence > 15) Sequence = 0;
}

bool ITF_ZT::SelectBoard(int index) {
  BoardNumber = static_cast<std::uint8_t>(index + 1);
  BoardKind = 0;
  for (const auto& e : BoardTable) {
    if (e.id == BoardNumber) {
      BoardKind = static_cast<std::uint8_t>(e.kind & 0xFF);
      break;
    }
  }
  const std::uint8_t payload[2] = {BoardNumber, BoardKind};
  return WriteCommand(kCmdBoard, nullptr, payload, 2);
}

bool ITF_ZT::WriteCommand(std::uint8_t code, const ParameterBlock* block,
                          const std::uint8_t* payload, int n) {
  if (n < 0 || n > kMaxPayload) return false;
  advanceSequence();
  std::uint8_t header[12] = {};
  header[0] = code;
  header[1] = static_cast<std::uint8_t>(0x80 | Sequence);
  putU16(&header[2], n + 12);
  if (block) std::memcpy(&header[4], block->data(), block->size());
  header[8] = static_cast<std::uint8_t>(~BoardNumber);
  header[9] = BoardNumber;

  LastFailed = 0;
  // Only one command is ever outstanding, so whatever is queued now answers an earlier one (a
  // duplicate, or a reply that came after its wait ended). Taking it as this command's
  // acknowledgement would report a write the device may never have received.
  if (!LinkDead) receiver_->ForgetEarlierReplies();
  std::uint8_t buffer[kPacketSize];
  const int attempts = TimingTable().WriteAttempts;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (LinkDead) break;
    std::memcpy(buffer, header, sizeof header);
    const bool withPayload = payload != nullptr && n > 0;
    if (withPayload) std::memcpy(buffer + 12, payload, static_cast<std::size_t>(n));
    // Without a payload the packet is still n + 12 long; the tail is zero, never stale bytes.
    else if (n > 0)
      std::memset(buffer + 12, 0, static_cast<std::size_t>(n));
    sender_->Send(buffer, n + 12);

    if (IsAcknowledgement(buffer, receiver_->Receive(buffer), code)) return true;
    const int poll = Poll();
    if (poll < 0) break;
    if (poll == 1) return true;
    DelayMs(10);
  }
  LastFailed = 1;
  ++WriteFailures;
  return false;
}

int ITF_ZT::Poll() {
  if (LinkDead) return 0;
  static constexpr std::uint8_t kPoll[4] = {kCmdPoll, 0x00, 0x05, 0x00};
  std::uint8_t buffer[kPacketSize];
  const std::uint32_t t0 = tickCount();
  while (tickCount() - t0 < TimingTable().PollWindow) {
    // A queued poll reply is stale: it may predate the write being resolved.
    receiver_->ForgetEarlierReplies();
    sender_->Send(kPoll, 4);
    const int verdict = PollReplyVerdict(buffer, receiver_->Receive(buffer), Sequence);
    if (verdict == 1) ++PollConfirms;
    if (verdict >= 0) return verdict;
    DelayMs(10);
  }
  return -1;
}

bool ITF_ZT::ReadCommand(std::uint8_t code, std::uint8_t* destination, int n) {
  if (destination == nullptr || n <= 0) return false;
  const int offset = 12 + ReplyOffset(code);
  const int r = n + offset;
  if (r > kPacketSize) return false;
  advanceSequence();
  std::uint8_t request[4] = {code, Sequence, 0, 0};
  putU16(&request[2], r);

  LastFailed = 0;
  // A queued reply of the same length and code would belong to an earlier read.
  if (!LinkDead) receiver_->ForgetEarlierReplies();
  std::uint8_t buffer[kPacketSize];
  const std::uint32_t t0 = tickCount();
  bool first = true;
  while (!LinkDead) {
    if (!first) ++ReadResends;
    first = false;
    sender_->Send(request, 4);
    if (TakeReadReply(buffer, receiver_->Receive(buffer), code, destination, n)) return true;
    DelayMs(10);
    if (tickCount() - t0 >= TimingTable().ReadWindow) break;
  }
  LastFailed = 1;
  ++ReadFailures;
  return false;
}

}  // namespace orvana
