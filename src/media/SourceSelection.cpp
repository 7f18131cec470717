#include "media/SourceSelection.h"

#include <filesystem>

#include "common/Paths.h"
#include "common/ProfileFile.h"

namespace orvana {

namespace {
constexpr const char* kSection = "CurrDir";
}

bool CheckAudio(const MediaController& source, Operator& op) {
  if (source.HasAudio == 0) return true;
  const WaveFormat& f = source.AudioFormat;
  const char* problem = nullptr;
  if (f.FormatTag != 1) {
    problem = "AUDIO: Incorrect data format, must be uncompressed.";
  } else if (f.BitsPerSample != 16) {
    problem = "AUDIO: Incorrect bits per sample, must be 16.";
  } else if (f.Channels != 2) {
    problem = "AUDIO: Incorrect audio channels, must be 2.";
  } else if (f.SamplesPerSec != 48000) {
    problem = "AUDIO: Incorrect audio rate, must be 48000 hz.";
  } else if (f.BlockAlign != 4) {
    problem = "AUDIO: Incorrect block alignment, must be 4 bytes.";
  }
  if (problem == nullptr) return true;
  op.message(problem);
  return false;
}

void ShowSourceInfo(const MediaController& source, std::vector<std::string>* videoList,
                    std::vector<std::string>* audioList) {
  if (videoList != nullptr) {
    std::vector<std::string>& v = *videoList;
    v.clear();
    v.push_back("Res: " + std::to_string(source.Width) + "x" + std::to_string(source.Height) +
                ", " + std::to_string(source.FrameRate) + " fps");
    const std::string seconds =
        source.FrameRate != 0 ? std::to_string(source.LengthFrames / source.FrameRate) : "";
    v.push_back("Length: " + std::to_string(source.LengthFrames) + " frames, " + seconds + " sec");
    v.push_back("Occupied: " + std::to_string(2 * source.LengthFrames) + " blocks");
  }
  if (audioList != nullptr) {
    std::vector<std::string>& a = *audioList;
    a.clear();
    if (source.HasAudio == 1) {
      const WaveFormat& f = source.AudioFormat;
      a.push_back("Rate: " + std::to_string(f.SamplesPerSec) + " hz");
      a.push_back("Bits: " + std::to_string(f.BitsPerSample));
      a.push_back("Channels: " + std::to_string(f.Channels) +
                  (f.Channels == 1 ? " (mono)" : " (stereo)"));
    } else {
      a.push_back("No audio");
    }
  }
}

int ShortLoopFrames(int channel, bool loopChecked, int n) {
  const bool loops = ((channel == 0 || channel == 1) && loopChecked) || channel == 3;
  // A clip without frames is left at 0 for the write to refuse; it cannot be repeated.
  if (!loops || n <= 0 || n >= 50) return n;
  return (50 / n + 1) * n;
}

SourceAreaLayout LayoutFor(int channel, int cancelButtonWidth) {
  SourceAreaLayout l;
  constexpr int kTop = 2, kWidth = 326, kHeight = 270, kGap = 12;
  l.PanelClipContainer = {0, kTop, kWidth, kHeight};
  l.PanelAlphaContainer = {l.PanelClipContainer.Right() + kGap, kTop, kWidth, kHeight};
  l.PanelWipeContainer = {l.PanelAlphaContainer.Right() + kGap, kTop, kWidth, kHeight};
  const bool logo = channel == 3;
  const int side = logo ? 80 : 320;
  const int panelH = logo ? 80 : 180;
  l.PanelClip = {(kWidth - side) / 2, 8, side, panelH};
  l.PanelAlpha = l.PanelClip;
  l.PanelWipe = {(kWidth - 320) / 2, 8, 320, 180};
  int trackWidth = kWidth - 12;
  if (channel == 2) trackWidth = 3 * kWidth - 12 - cancelButtonWidth;
  if (logo) trackWidth = 2 * kWidth - 12;
  l.TrackBar1 = {l.PanelClipContainer.Left, l.PanelClipContainer.Bottom() + 6, trackWidth, 0};
  if (logo) {
    l.Bevel1Top = l.PanelClip.Top + 188;
    l.PanelClip.Top += l.PanelClip.Height / 2;
    l.PanelAlpha.Top += l.PanelAlpha.Height / 2;
  } else {
    l.Bevel1Top = l.PanelClip.Top + l.PanelClip.Height + 8;
  }
  l.ListTop = l.Bevel1Top + 8;
  l.AlphaVisible = channel == 2 || channel == 3;
  l.WipeVisible = channel == 2;
  l.LoopVisible = channel == 0 || channel == 1;
  return l;
}

SourceSelection::SourceSelection(MediaSources& sources, Operator& op)
    : sources_(sources), op_(op) {}

void SourceSelection::Store(const std::string& key, const std::string& value) {
  ProfileFile(paths::settingsFile(kMainIni)).writeString(kSection, key, value);
}

std::string SourceSelection::Read(const std::string& key, const std::string& fallback) const {
  return ProfileFile(paths::settingsFile(kMainIni)).readString(kSection, key, fallback);
}

bool SourceSelection::OpenSlot(std::unique_ptr<MediaController>& slot, const std::string& name,
                               int panelWidth, int panelHeight, std::string& label) {
  label = name;
  slot = std::make_unique<MediaController>();
  if (slot->Open(name, panelWidth, panelHeight)) return true;
  label.clear();
  return false;
}

void SourceSelection::OpenClipFile(const std::string& name) {
  sources_.ClipSource.reset();
  if (name.empty()) return;
  if (Channel == 3) {
    Store("LogoFile", name);
  } else if (Channel >= 0 && Channel <= 2) {
    Store("ClipFile", name);
  }
  if (!OpenSlot(sources_.ClipSource, name, PanelClipWidth, PanelClipHeight, Label7)) {
    FramesToWrite = ClipSourceFrames = ClipSourceWidth = ClipSourceHeight = 0;
    return;
  }
  MediaController& clip = *sources_.ClipSource;
  if (!CheckAudio(clip, op_)) clip.HasAudio = 0;
  ShowSourceInfo(clip, &ListBoxClip, &ListBoxAudio);
  ClipSourceFrames = FramesToWrite = static_cast<int>(clip.LengthFrames & 0xFFFFFFFF);
  ClipSourceWidth = clip.Width;
  ClipSourceHeight = clip.Height;
  TrackBarMax = FramesToWrite - 1;
  TrackBarPosition = TrackBarMax / 2;
  TrackBar1Change();
  FramesToWrite = ShortLoopFrames(Channel, LoopChecked, FramesToWrite);
}

void SourceSelection::OpenAlphaFile(const std::string& name) {
  sources_.AlphaSource.reset();
  if (name.empty()) return;
  if (Channel == 2) Store("ClipAlphaFile", name);
  if (Channel == 3) Store("LogoAlphaFile", name);
  if (OpenSlot(sources_.AlphaSource, name, PanelAlphaWidth, PanelAlphaHeight, Label8)) {
    ShowSourceInfo(*sources_.AlphaSource, &ListBoxAlpha, nullptr);
  }
}

void SourceSelection::OpenWipeFile(const std::string& name) {
  sources_.WipeSource.reset();
  if (name.empty()) return;
  Store("WipeFile", name);
  if (OpenSlot(sources_.WipeSource, name, PanelWipeWidth, PanelWipeHeight, Label9)) {
    ShowSourceInfo(*sources_.WipeSource, &ListBoxWipe, nullptr);
  }
}

void SourceSelection::ChooseFolder(const std::string& chosen) {
  std::string folder = std::filesystem::path(chosen).parent_path().string();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  SourceFolder = folder;
}

void SourceSelection::OpenClipButtonClick(const std::string& chosen) {
  if (chosen.empty()) return;
  ChooseFolder(chosen);
  OpenClipFile(chosen);
  Store("Dir", SourceFolder);
}

void SourceSelection::OpenAlphaButtonClick(const std::string& chosen) {
  if (chosen.empty()) return;
  ChooseFolder(chosen);
  OpenAlphaFile(chosen);
  Store("Dir", SourceFolder);
}

void SourceSelection::OpenWipeButtonClick(const std::string& chosen) {
  if (chosen.empty()) return;
  ChooseFolder(chosen);
  OpenWipeFile(chosen);
  Store("Dir", SourceFolder);
}

void SourceSelection::SelectChannel(ChannelRadio radio) {
  Channel = static_cast<int>(radio);
  if (onChannelChanged) onChannelChanged();
  LayoutChannel();
  if (IsConnected && IsConnected() && Connect1ButtonClick) Connect1ButtonClick();
}

void SourceSelection::SelectStoredChannel() {
  if (Channel >= 0 && Channel <= 3) SelectChannel(static_cast<ChannelRadio>(Channel));
}

void SourceSelection::LayoutChannel() {
  Layout = LayoutFor(Channel, CancelButtonWidth);
  const bool logo = Channel == 3;
  PanelClipWidth = PanelAlphaWidth = logo ? 80 : 320;
  PanelClipHeight = PanelAlphaHeight = logo ? 80 : 180;
  SourceFolder = Read("Dir", "C:\\");
  const std::string clip = Read(logo ? "LogoFile" : "ClipFile", "");
  const std::string alpha = Read(logo ? "LogoAlphaFile" : "ClipAlphaFile", "");
  const std::string wipe = Read("WipeFile", "");
  OpenClipFile(clip);
  if (Channel == 2) {
    OpenAlphaFile(alpha);
    OpenWipeFile(wipe);
  }
  if (logo) OpenAlphaFile(alpha);
}

void SourceSelection::LoopCheckBoxClick(bool checked) {
  LoopChecked = checked;
  LayoutChannel();
}

void SourceSelection::TrackBar1Change() {
  Label1 = std::to_string(TrackBarPosition);
  for (auto* slot : {&sources_.ClipSource, &sources_.AlphaSource, &sources_.WipeSource}) {
    if (*slot) (*slot)->Seek(TrackBarPosition, 0);
  }
  if (onPositionShown) onPositionShown();
}

}  // namespace orvana
