#pragma once

#include <QColor>
#include <QImage>

#include "store/ChipLayout.h"

namespace orvana {

// The picture of a chip's 16,384 cells: 256 x 64 pixels (cell 256y + x), stretched over the
// map control with a silver grid so each cell stands apart.
class ChannelMap {
 public:
  static constexpr int kColumns = 256;
  static constexpr int kRows = 64;

  static QColor CellColour(CellState s, int selectedClip);
  // The unstretched 256 x 64 picture.
  static QImage Render(const CellState* map, int selectedClip);
  // Fills `target` white, stretches the picture over it and draws the grid.
  static void Draw(QImage& target, const CellState* map, int selectedClip);
  // Cell under (x, y) of a map shown at width x height, or -1 outside the picture.
  static int CellAt(int x, int y, int width, int height);
};

}  // namespace orvana
