#include "devsim/PageStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace orvana::devsim {

namespace {

constexpr off_t kChipBytes = static_cast<off_t>(kRowsPerChip) * kPageSize;
constexpr off_t kBlockBytes = static_cast<off_t>(kPagesPerBlock) * kPageSize;
constexpr std::size_t kSlabPages = kPagesPerBlock;
constexpr std::size_t kSlabBytes = kSlabPages * kPageSize;

off_t pageOffset(std::uint32_t row) {
  return static_cast<off_t>(row) * kPageSize;
}

// Reads a whole page; bytes past the end of the file read as 0 (stored inverted: erased).
bool readFully(int fd, std::uint8_t* out, off_t offset) {
  std::size_t done = 0;
  while (done < kPageSize) {
    ssize_t n = ::pread(fd, out + done, kPageSize - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  std::memset(out + done, 0, kPageSize - done);
  return true;
}

bool writeFully(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void invert(std::uint8_t* bytes) {
  for (std::uint32_t i = 0; i < kPageSize; ++i) bytes[i] = static_cast<std::uint8_t>(~bytes[i]);
}

bool allErased(const std::uint8_t* data) {
  for (std::uint32_t i = 0; i < kPageSize; ++i)
    if (data[i] != 0xFF) return false;
  return true;
}

}  // namespace

PageStore::~PageStore() {
  closeAll();
  for (void* slab : slabs_) ::munmap(slab, kSlabBytes);
}

bool PageStore::mapSlab() {
  // Twice the size, so a slab aligned to its own size fits and can sit in one huge page where
  // the kernel offers them; one fault then replaces hundreds.
  const std::size_t span = 2 * kSlabBytes;
  void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return false;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kSlabBytes - 1) & ~(std::uintptr_t{kSlabBytes} - 1);
  auto* slab = reinterpret_cast<std::uint8_t*>(aligned);
  if (aligned > start) ::munmap(raw, aligned - start);
  if (aligned - start < kSlabBytes) ::munmap(slab + kSlabBytes, kSlabBytes - (aligned - start));
  (void)::madvise(slab, kSlabBytes, MADV_HUGEPAGE);
  // Touched now, not at the first program of each page.
  std::memset(slab, 0xFF, kSlabBytes);
  slabs_.push_back(slab);
  auto* pages = reinterpret_cast<Page*>(slab);
  for (std::size_t i = kSlabPages; i-- > 0;) freePages_.push_back(&pages[i]);
  return true;
}

PageStore::Page* PageStore::takePage() {
  if (freePages_.empty() && !mapSlab()) return nullptr;
  Page* page = freePages_.back();
  freePages_.pop_back();
  return page;
}

bool PageStore::TopUpReserve(std::size_t pages) {
  if (persistent() || slabs_.empty() || freePages_.size() >= pages) return false;
  return mapSlab();
}

void PageStore::releaseAllPages() {
  for (auto& entry : memory_) freePages_.push_back(entry.second);
  memory_.clear();
}

void PageStore::closeAll() {
  for (int& fd : fds_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
}

bool PageStore::openFolder(const std::filesystem::path& folder, std::string& error) {
  closeAll();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    error = "cannot create " + folder.string() + ": " + ec.message();
    return false;
  }
  // Two servers on one folder would interleave programs and erases; the lock goes with the
  // process, also when it is killed.
  const std::string lockPath = (folder / "devsim.lock").string();
  lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    error = "store " + folder.string() + " is in use or not writable";
    closeAll();
    return false;
  }
  for (int chip = 0; chip < kChipCount; ++chip) {
    char name[32];
    std::snprintf(name, sizeof name, "chip%02d.nand", chip);
    const std::string path = (folder / name).string();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, kChipBytes) != 0) {
      error = "cannot open " + path + ": " + std::strerror(errno);
      if (fd >= 0) ::close(fd);
      closeAll();
      return false;
    }
    fds_[static_cast<std::size_t>(chip)] = fd;
  }
  releaseAllPages();
  return true;
}

bool PageStore::read(int chip, std::uint32_t row, std::uint8_t* out) {
  if (persistent()) {
    if (!readFully(fds_[static_cast<std::size_t>(chip)], out, pageOffset(row))) return false;
    invert(out);
    return true;
  }
  auto it = memory_.find(key(chip, row));
  if (it == memory_.end())
    std::memset(out, 0xFF, kPageSize);
  else
    std::memcpy(out, it->second->data(), kPageSize);
  return true;
}

bool PageStore::program(int chip, std::uint32_t row, const std::uint8_t* data) {
  // Programming all-ones changes nothing; skipping it keeps empty pages holes.
  if (allErased(data)) return true;
  if (persistent()) {
    const int fd = fds_[static_cast<std::size_t>(chip)];
    if (!readFully(fd, scratch_.data(), pageOffset(row))) return false;
    // Stored inverted: clearing data bits sets stored bits.
    for (std::uint32_t i = 0; i < kPageSize; ++i)
      scratch_[i] = static_cast<std::uint8_t>(scratch_[i] | ~data[i]);
    return writeFully(fd, scratch_.data(), kPageSize, pageOffset(row));
  }
  auto [it, added] = memory_.try_emplace(key(chip, row), nullptr);
  if (added) {
    it->second = takePage();
    if (it->second == nullptr) {
      memory_.erase(it);
      return false;
    }
    // An erased page programmed once holds exactly the data.
    std::memcpy(it->second->data(), data, kPageSize);
    return true;
  }
  Page& page = *it->second;
  for (std::uint32_t i = 0; i < kPageSize; ++i) page[i] &= data[i];
  return true;
}

bool PageStore::erase(int chip, std::uint32_t block) {
  if (persistent()) {
    const int fd = fds_[static_cast<std::size_t>(chip)];
    const off_t offset = static_cast<off_t>(block) * kBlockBytes;
    if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, kBlockBytes) == 0)
      return true;
    // A file system without hole punching still gets a correct (if not sparse) erase.
    scratch_.fill(0);
    for (std::uint32_t p = 0; p < kPagesPerBlock; ++p)
      if (!writeFully(fd, scratch_.data(), kPageSize, offset + pageOffset(p))) return false;
    return true;
  }
  const std::uint32_t first = block * kPagesPerBlock;
  for (std::uint32_t p = 0; p < kPagesPerBlock; ++p) {
    const auto it = memory_.find(key(chip, first + p));
    if (it == memory_.end()) continue;
    freePages_.push_back(it->second);
    memory_.erase(it);
  }
  return true;
}

}  // namespace orvana::devsim
