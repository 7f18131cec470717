#include "DevicePeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "support/TempHome.h"

namespace orvana::test {

DevicePeer::DevicePeer(std::uint16_t hostPort) : hostPort_(hostPort) {
  fd_ = openLoopbackUdp(&port_);
  thread_ = std::thread([this] { run(); });
}

DevicePeer::~DevicePeer() {
  stop_ = true;
  thread_.join();
  ::close(fd_);
}

std::vector<DevicePeer::Datagram> DevicePeer::received() {
  std::lock_guard lock(mutex_);
  return received_;
}

void DevicePeer::clearReceived() {
  std::lock_guard lock(mutex_);
  received_.clear();
}

void DevicePeer::setStatus(std::uint8_t status) {
  std::lock_guard lock(mutex_);
  defaultStatus_ = status;
}

void DevicePeer::queueStatus(std::vector<std::uint8_t> statuses) {
  std::lock_guard lock(mutex_);
  statusQueue_.assign(statuses.begin(), statuses.end());
}

void DevicePeer::setPage(const PageBuffer& page) {
  std::lock_guard lock(mutex_);
  page_ = page;
}

void DevicePeer::queuePages(std::vector<PageBuffer> pages) {
  std::lock_guard lock(mutex_);
  pageQueue_.assign(pages.begin(), pages.end());
}

void DevicePeer::dropDataReads(int count) {
  std::lock_guard lock(mutex_);
  dropReads_ = count;
}

void DevicePeer::dropAcks(int count) {
  std::lock_guard lock(mutex_);
  dropAcks_ = count;
}

void DevicePeer::run() {
  std::uint8_t buffer[2048];
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) handle(buffer, static_cast<std::size_t>(n));
  }
}

void DevicePeer::reply(const std::uint8_t* data, std::size_t n) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(hostPort_);
  ::sendto(fd_, data, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void DevicePeer::handle(const std::uint8_t* data, std::size_t n) {
  std::lock_guard lock(mutex_);
  received_.emplace_back(data, data + n);
  if (n < 4) return;
  const std::uint8_t code = data[0];
  if (code == 0xFF && n == 4) {
    const std::uint8_t answer[5] = {0xFF, 0, 0, 0, lastSequence_};
    reply(answer, sizeof answer);
    return;
  }
  if (data[1] & 0x80) {  // acknowledged write
    lastSequence_ = data[1] & 0x0F;
    if (code == 135 && n > 16) {
      // A list that is just 70h switches data reads to the status byte; anything else to page
      // data from the start.
      statusMode_ = n == 18 && data[16] == 1 && data[17] == 0x70;
      piece_ = 0;
      servingQueued_ = data[n - 2] == 1 && data[n - 1] == 0x30 && !pageQueue_.empty();
      if (servingQueued_) {
        queued_ = pageQueue_.front();
        pageQueue_.pop_front();
      }
    }
    if (dropAcks_ > 0) {
      --dropAcks_;
      return;
    }
    const std::uint8_t ack[4] = {code, 0, 0, 0};
    reply(ack, sizeof ack);
    return;
  }
  // Read request: answer exactly the length asked for.
  const std::size_t r = static_cast<std::size_t>(data[2] | (data[3] << 8));
  std::vector<std::uint8_t> answer(r, 0);
  answer[0] = code;
  if (code == 136 && r > 19) {
    if (dropReads_ > 0) {
      --dropReads_;
      return;
    }
    const std::size_t want = r - 19;
    if (statusMode_) {
      ++statusReads_;
      std::uint8_t s = defaultStatus_;
      if (!statusQueue_.empty()) {
        s = statusQueue_.front();
        statusQueue_.pop_front();
      }
      answer[19] = s;
    } else {
      const std::size_t from = static_cast<std::size_t>(piece_) * 1024;
      const PageBuffer& page = servingQueued_ ? queued_ : page_;
      std::copy_n(page.begin() + static_cast<long>(from), std::min<std::size_t>(want, 1024),
                  answer.begin() + 19);
      piece_ = (piece_ + 1) % 8;
    }
  }
  reply(answer.data(), answer.size());
}

}  // namespace orvana::test
