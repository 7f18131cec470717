#pragma once

#include <filesystem>

namespace orvana::test {

// A fresh folder set as ORVANA_HOME for the life of the object, removed afterwards; and the
// device pointed at loopback so nothing can reach a real address.
class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A UDP port on 127.0.0.1 that was free a moment ago.
unsigned short freeUdpPort();

// A UDP socket bound to 127.0.0.1 on a port the system picks; the port goes to *port. -1 on
// failure.
int openLoopbackUdp(unsigned short* port);

}  // namespace orvana::test
