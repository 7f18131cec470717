#include "ScriptedPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "support/TempHome.h"

namespace orvana::test {

std::vector<Bytes> DeviceModel::answer(const Bytes& q) {
  if (q.size() < 4) return {};
  const std::uint8_t code = q[0];
  if (q.size() == 4 && code == 0xFF) return {Bytes{0xFF, 0, 0, 0, lastSequence}};
  if (q[1] & 0x80) {
    lastSequence = q[1] & 0x0F;
    if (code == 130 && q.size() >= 12) {
      const int offset = q[5] | (q[6] << 8);
      if (q.size() == 12) {
        readOffset = offset;
      } else {
        for (std::size_t i = 12; i < q.size(); ++i) {
          const std::size_t at = static_cast<std::size_t>(offset) + i - 12;
          if (at < registers.size()) registers[at] = q[i];
        }
      }
    }
    return {Bytes{code, q[1], 4, 0}};
  }
  const int r = q[2] | (q[3] << 8);
  Bytes reply(static_cast<std::size_t>(r), 0);
  reply[0] = code;
  if (code == 130) {
    for (int i = 16; i < r; ++i) {
      const std::size_t at = static_cast<std::size_t>(readOffset + i - 16);
      if (at < registers.size()) reply[static_cast<std::size_t>(i)] = registers[at];
    }
  }
  return {reply};
}

ScriptedPeer::ScriptedPeer(std::uint16_t hostPort) : hostPort_(hostPort) {
  fd_ = openLoopbackUdp(&port_);
  handler_ = [](const Bytes& q, DeviceModel& m) { return m.answer(q); };
  thread_ = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer() {
  stop_ = true;
  thread_.join();
  ::close(fd_);
}

void ScriptedPeer::setHandler(Handler h) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(h);
}

std::vector<Bytes> ScriptedPeer::received() {
  std::lock_guard lock(mutex_);
  return received_;
}

void ScriptedPeer::clear() {
  std::lock_guard lock(mutex_);
  received_.clear();
}

void ScriptedPeer::withModel(const std::function<void(DeviceModel&)>& f) {
  std::lock_guard lock(mutex_);
  f(model_);
}

void ScriptedPeer::run() {
  sockaddr_in host{};
  host.sin_family = AF_INET;
  host.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  host.sin_port = htons(hostPort_);
  std::uint8_t buffer[4096];
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    auto n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) continue;
    Bytes q(buffer, buffer + n);
    std::vector<Bytes> replies;
    {
      std::lock_guard lock(mutex_);
      received_.push_back(q);
      replies = handler_(q, model_);
    }
    for (const auto& r : replies)
      ::sendto(fd_, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&host), sizeof host);
  }
}

Bytes hexBytes(const char* text) {
  Bytes out;
  const char* p = text;
  while (*p) {
    while (*p == ' ' || *p == ',') ++p;
    if (!*p) break;
    char* end = nullptr;
    out.push_back(static_cast<std::uint8_t>(std::strtoul(p, &end, 16)));
    p = end;
  }
  return out;
}

}  // namespace orvana::test
