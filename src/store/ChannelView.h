#pragma once

#include <QImage>
#include <functional>
#include <string>

#include "store/ClipStore.h"
#include "store/TScrollBase.h"

namespace orvana {

enum class MouseButton { Left, Right, Middle };

// What a person sees of the channel: the strip of clip thumbnails, the map of the chip's cells
// with its free-space hint, the caption naming the chip, and whether Cancel is offered. It
// follows the store it is given and turns clicks on the strip and the map into selections and
// cues. Headless: the window paints it, the command line saves its map, tests read it.
class ChannelView : public ChannelListener {
 public:
  explicit ChannelView(ClipStore& store);
  ~ChannelView() override;
  ChannelView(const ChannelView&) = delete;
  ChannelView& operator=(const ChannelView&) = delete;

  // ChannelListener
  void ChannelCleared() override;
  void DirectoryLoaded() override;
  void ChipShown(int chip) override;
  void CancelOffered(bool offered) override;

  void FillTimeline();
  void AddTimelineEntry(int n);
  // Redraws the map with the strip's selected clip in grey (and tells the store which it is).
  void DrawChannelMap();
  // A press on the map: a left click on a clip's cell selects that clip in the strip.
  void Image3MouseDown(MouseButton button, int x, int y);
  // A press on the strip: left toggles a tile and cues its clip, right selects one.
  void PaintBox1MouseDown(MouseButton button, int x, int y);
  // The clip number of the strip's selected tile, or -1.
  int SelectedClipNumber() const;

  TScrollBase Timeline{1118, 113, 110};
  QImage MapImage{1024, 128, QImage::Format_RGB32};
  std::string MapHint;
  std::string ChannelCaption;
  bool CancelShown = false;
  // Drawn at (1, 1) on the thumbnail of a clip with sound; a small loudspeaker when null.
  QImage AudioMark;
  // Called whenever the map picture or its hint has changed.
  std::function<void()> onMapChanged;

 private:
  ClipStore& store_;
};

}  // namespace orvana
