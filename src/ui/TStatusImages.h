#pragma once
// The status icons of the host list and the information pane as pixmaps, small (16) and
// large (32), drawn from the same LED pictures as the web interface's icons. Icon numbers
// follow THostTableModel::StatusIconIndex; 10, 13 and 15 are also the overlays (test
// running, e-mail alert queued, listed in the alert window). Needs a GUI application.
#include <QPixmap>

#include <vector>

class TStatusImages {
public:
  TStatusImages();
  static constexpr int SmallSize = 16;
  static constexpr int LargeSize = 32;
  // An empty pixmap for a number outside the set.
  QPixmap Small(int n) const;
  QPixmap Large(int n) const;
  int Count() const { return static_cast<int>(FSmall.size()); }

private:
  std::vector<QPixmap> FSmall, FLarge;
};
