#include "ui/HostMenuRules.h"

const std::array<TDisableItem, 8> DisableItems{{{"Indefinitely", 0},
                                                {"For 30 Minutes", 30},
                                                {"For 1 Hour", 60},
                                                {"For 4 Hours", 240},
                                                {"For 12 Hours", 720},
                                                {"For 24 Hours", 1440},
                                                {"For 3 Days", 4320},
                                                {"For 7 Days", 10080}}};

int ResetDepth(Qt::KeyboardModifiers modifiers) {
  if (modifiers.testFlag(Qt::ControlModifier)) return 2;
  if (modifiers.testFlag(Qt::ShiftModifier)) return 1;
  return 0;
}

int CheckedDisableItem(TDateTime disabledUntil, TDateTime now) {
  if (disabledUntil == 1.0 || disabledUntil > now + 7.0) return 0;
  if (disabledUntil <= now) return -1;
  for (std::size_t i = 1; i < DisableItems.size(); ++i)
    if (now + DisableItems[i].Minutes / 1440.0 >= disabledUntil) return static_cast<int>(i);
  return -1;
}

TMiniLayout MiniLayoutFor(int width, int miniWidth) {
  TMiniLayout layout;
  layout.Narrow = width <= miniWidth;
  layout.HideConfig = layout.Narrow || width <= 385;
  layout.RememberNormal = width > miniWidth + 30;
  return layout;
}

int LeftForWidth(int left, int width, int screenLeft, int screenRight) {
  if (left + width > screenRight) left = screenRight - width;
  return left < screenLeft ? screenLeft : left;
}
