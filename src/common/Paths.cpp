#include "common/Paths.h"

#include <cstdlib>

namespace orvana::paths {
namespace {

std::filesystem::path envPath(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v) ? std::filesystem::path(v) : std::filesystem::path();
}

std::filesystem::path home() {
  auto h = envPath("HOME");
  return h.empty() ? std::filesystem::path("/tmp") : h;
}

std::filesystem::path ensure(std::filesystem::path p) {
  std::error_code ec;
  std::filesystem::create_directories(p, ec);
  return p;
}

}  // namespace

std::filesystem::path settingsFolder() {
  if (auto h = envPath("ORVANA_HOME"); !h.empty()) return h;
  auto base = envPath("XDG_CONFIG_HOME");
  if (base.empty()) base = home() / ".config";
  return base / "orvana";
}

std::filesystem::path dataFolder() {
  if (auto h = envPath("ORVANA_HOME"); !h.empty()) return h;
  auto base = envPath("XDG_DATA_HOME");
  if (base.empty()) base = home() / ".local" / "share";
  return base / "orvana";
}

std::filesystem::path settingsFile(const std::string& name) { return settingsFolder() / name; }

std::filesystem::path resumeFile() { return dataFolder() / "orvana.sav"; }

std::filesystem::path workFolder() { return ensure(dataFolder() / "avistream"); }

std::filesystem::path runtimeFolder() {
  if (auto h = envPath("ORVANA_HOME"); !h.empty()) return ensure(h);
  if (auto r = envPath("XDG_RUNTIME_DIR"); !r.empty()) return r;
  return ensure(dataFolder());
}

}  // namespace orvana::paths
