#pragma once

// Datagram transport to the device: a sending socket aimed at the device and a receiving socket
// bound to the host port the device answers to. Both are non-blocking; waits spin briefly and then
// sleep in the kernel.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/Operator.h"

namespace orvana {

// Every packet buffer of the protocol holds this much; longer datagrams are never stored.
inline constexpr int kPacketSize = 1500;

// Strict dotted IPv4 ("a.b.c.d"); nullopt for anything else, so that a typo can never turn into
// the broadcast address.
std::optional<in_addr> ParseDottedIPv4(const std::string& text);

class TUDPSocket {
 public:
  enum class Role : std::int32_t { Sending = 0, Receiving = 1 };

  ~TUDPSocket();
  TUDPSocket(const TUDPSocket&) = delete;
  TUDPSocket& operator=(const TUDPSocket&) = delete;

  bool IsOpen() const { return handle >= 0; }
  int Handle() const { return handle; }
  const sockaddr_in& Address() const { return address; }
  Role role() const { return role_; }

  // Pending byte count of the next datagram, or 0 when nothing arrived within timeoutMs
  // (elapsed ticks strictly greater than the time-out end the wait). 0 at once when closed.
  int WaitForData(std::uint32_t timeoutMs);
  void Close();

  // WaitForData spins while a reply is likely to land soon and sleeps in the kernel otherwise:
  // waking a blocked thread costs tens of microseconds on a virtual machine, more than a quick
  // reply takes, while spinning through a slow reply wastes a processor. The spin lasts about
  // twice the recent typical wait, at most kMaxSpinMicros; a slow device gets kMinSpinMicros.
  static constexpr int kMaxSpinMicros = 120;
  static constexpr int kMinSpinMicros = 5;
  int spinMicros() const;

 protected:
  explicit TUDPSocket(Role role);

  int handle = -1;
  sockaddr_in address{};
  Role role_;
  std::int32_t addressLength = sizeof(sockaddr_in);
  bool inherited_ = false;  // a copy of a socket the parent process holds too

 protected:
  int pendingBytes() const;
  // Repeats `attempt` (nonzero result: done) spinning briefly, then sleeping in the kernel, until
  // the time-out has passed; 0 then.
  template <class Attempt>
  int waitFor(std::uint32_t timeoutMs, Attempt&& attempt);
  // Running average of how long waits that ended with data took, in microseconds.
  double typicalWaitMicros_ = 0;
};

class TClientUDPSocket : public TUDPSocket {
 public:
  // An address that is not dotted IPv4 leaves the socket closed.
  TClientUDPSocket(const std::string& deviceAddress, std::uint16_t port);
  // Bytes sent or -1; 0 without a system call when closed.
  int Send(const std::uint8_t* data, int n);

 private:
  bool connected_ = false;
};

class TServerUDPSocket : public TUDPSocket {
 public:
  // Binds 0.0.0.0:port; on failure tells the operator and stays closed. A socket already bound
  // to that port and inherited through ORVANA_HOST_SOCKETS is used instead (test rigs).
  TServerUDPSocket(std::uint16_t port, Operator& op);

  // Only datagrams from this address count as replies; others are dropped unseen.
  void AcceptOnlyFrom(in_addr peer) { peer_ = peer; }

  // Waits up to ReceiveWait for one datagram and stores it in buffer (kPacketSize bytes).
  // Returns its length, 0 when nothing came (or closed), -1 on a socket error. Datagrams longer
  // than kPacketSize or from another sender are dropped and the wait goes on.
  int Receive(std::uint8_t* buffer);
  // Throws away everything already queued, without waiting; returns how many datagrams.
  int Discard();
  // Called just before a new command goes out: anything that reached the host before this moment
  // answers an earlier command and will not be returned by Receive. With kernel arrival stamps
  // this costs no system call; without them the queue is emptied at once.
  void ForgetEarlierReplies();

 private:
  std::optional<in_addr> peer_;
  bool stamped_ = false;         // the kernel records each datagram's arrival time
  std::int64_t freshAfter_ = 0;  // ns, CLOCK_REALTIME; earlier arrivals are stale
};

}  // namespace orvana
