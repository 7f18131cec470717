#pragma once

// Choosing the source files of a channel: opening them into the three slots, remembering them in
// the settings, checking the clip's sound, the info lines, the number of frames to write, the
// trackbar and the channel switch. Headless: the main window owns one and shows its state.

#include <functional>
#include <string>
#include <vector>

#include "common/Operator.h"
#include "media/MediaController.h"

namespace orvana {

// True when the decoder has no sound or acceptable sound (16-bit stereo PCM at 48000 Hz);
// otherwise shows the message of the first failing test.
bool CheckAudio(const MediaController& source, Operator& op);

// The info lines of a source; `audioList` may be null.
void ShowSourceInfo(const MediaController& source, std::vector<std::string>* videoList,
                    std::vector<std::string>* audioList);

// Frames a pass takes from a clip of n frames: a short clip on a looping channel is repeated
// whole until it passes 50 frames. A clip of no frames stays at 0.
int ShortLoopFrames(int channel, bool loopChecked, int n);

// Radio buttons of the channel switch, in channel order.
enum class ChannelRadio { Clip1Radio, Clip2Radio, SWipeRadio, LogoRadio };

struct Rect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  int Right() const { return Left + Width; }
  int Bottom() const { return Top + Height; }
};

// Where the controls of the source area go for a channel; the window applies it as it stands.
struct SourceAreaLayout {
  Rect PanelClipContainer, PanelAlphaContainer, PanelWipeContainer;
  Rect PanelClip, PanelAlpha, PanelWipe;  // inside their containers
  Rect TrackBar1;
  int Bevel1Top = 0;
  int ListTop = 0;  // Image1, Image4, Image5 and the four info lists
  bool ClipVisible = true, AlphaVisible = false, WipeVisible = false, LoopVisible = false;
};
SourceAreaLayout LayoutFor(int channel, int cancelButtonWidth);

class SourceSelection {
 public:
  SourceSelection(MediaSources& sources, Operator& op);

  void OpenClipFile(const std::string& name);
  void OpenAlphaFile(const std::string& name);
  void OpenWipeFile(const std::string& name);
  // The open buttons after their dialog: `chosen` is the file picked, empty when cancelled.
  void OpenClipButtonClick(const std::string& chosen);
  void OpenAlphaButtonClick(const std::string& chosen);
  void OpenWipeButtonClick(const std::string& chosen);

  void SelectChannel(ChannelRadio radio);
  void SelectStoredChannel();
  void LayoutChannel();
  void LoopCheckBoxClick(bool checked);
  void TrackBar1Change();

  // Main-window variables the write reads.
  int FramesToWrite = -1;
  int ClipSourceFrames = -1;
  int ClipSourceWidth = -1;
  int ClipSourceHeight = -1;
  std::string SourceFolder;
  int Channel = 0;
  bool LoopChecked = false;

  // What the window shows.
  std::string Label7, Label8, Label9, Label1;
  std::vector<std::string> ListBoxClip, ListBoxAudio, ListBoxAlpha, ListBoxWipe;
  int TrackBarMax = 0;
  int TrackBarPosition = 0;
  SourceAreaLayout Layout;
  int CancelButtonWidth = 75;
  // Preview panel sizes handed to Open.
  int PanelClipWidth = 320, PanelClipHeight = 180;
  int PanelAlphaWidth = 320, PanelAlphaHeight = 180;
  int PanelWipeWidth = 320, PanelWipeHeight = 180;

  // The device side of the channel switch: whether the link's last command succeeded, and the
  // connect action. Unset hooks mean "not connected".
  std::function<bool()> IsConnected;
  std::function<void()> Connect1ButtonClick;
  // A window shows the channel's radio button, menu check and visible sources when the channel
  // changes (also when a continued write switches it), and the held frames after every seek.
  std::function<void()> onChannelChanged;
  std::function<void()> onPositionShown;

 private:
  bool OpenSlot(std::unique_ptr<MediaController>& slot, const std::string& name, int panelWidth,
                int panelHeight, std::string& label);
  void Store(const std::string& key, const std::string& value);
  std::string Read(const std::string& key, const std::string& fallback) const;
  void ChooseFolder(const std::string& chosen);

  MediaSources& sources_;
  Operator& op_;
};

}  // namespace orvana
