#pragma once

#include <filesystem>

namespace orvana {

// Keeps the program to one running copy: an exclusive lock on a file, held for the process's
// life and released by the kernel when the process ends (also when it is killed).
class InstanceLock {
 public:
  explicit InstanceLock(const std::filesystem::path& file);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  bool acquired() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace orvana
