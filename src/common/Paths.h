#pragma once

#include <filesystem>
#include <string>

namespace orvana {

// Where Orvana keeps its files. With ORVANA_HOME set everything lives under it (tests always set
// it); otherwise the settings go to $XDG_CONFIG_HOME/orvana and the data (resume file, work folder)
// to $XDG_DATA_HOME/orvana.
namespace paths {

std::filesystem::path settingsFolder();
std::filesystem::path dataFolder();

// "orvana.ini" or "itf_ip.ini" in the settings folder.
std::filesystem::path settingsFile(const std::string& name);
// The resume file of an interrupted write ("orvana.sav").
std::filesystem::path resumeFile();
// The work folder for clip files, frame bitmaps and WAV files ("avistream"), created on demand.
std::filesystem::path workFolder();
// Folder for the single-instance lock.
std::filesystem::path runtimeFolder();

}  // namespace paths

inline constexpr const char* kMainIni = "orvana.ini";
inline constexpr const char* kAddressIni = "itf_ip.ini";

}  // namespace orvana
