#pragma once
// The rules of the host menu and the window's narrow mode that do not need a widget:
// how deep a reset goes by the keys held, which "Disable Host..." item carries the
// check mark, and what the window shows at a given width.
#include <Qt>

#include <array>

#include "common/DateTime.h"

// 2 with Ctrl held (statistics too), else 1 with Shift (status and notes), else 0.
int ResetDepth(Qt::KeyboardModifiers modifiers);

struct TDisableItem {
  const char* Caption;
  int Minutes;  // 0: indefinitely
};
// "Indefinitely" first, then the timed items in menu order.
extern const std::array<TDisableItem, 8> DisableItems;

// The index in DisableItems of the item matching the host's disabled-until value, -1 for
// none. A disable that has already run out (the scheduler has not cleared it yet) checks
// nothing: choosing a checked item enables the host, which would make "For 30 Minutes"
// on such a host do nothing at all.
int CheckedDisableItem(TDateTime disabledUntil, TDateTime now);

// The narrow ("mini") mode: what the hosts page shows at a window width.
struct TMiniLayout {
  bool Narrow = false;          // tabs, refresh, reset, configuration and info button hidden
  bool HideConfig = false;      // the configuration button is hidden
  bool RememberNormal = false;  // the width is the one to come back to
};
TMiniLayout MiniLayoutFor(int width, int miniWidth);
// The mini width: the "Host" column and the window's frame around the list.
inline int MiniWidth(int hostColumnWidth, int frame) { return hostColumnWidth + frame; }
// Where the window's left edge goes when it takes the width again: moved left so that
// it ends at the monitor's right edge, never beyond its left edge.
int LeftForWidth(int left, int width, int screenLeft, int screenRight);
