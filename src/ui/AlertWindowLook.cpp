#include "ui/AlertWindowLook.h"

#include <algorithm>

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

void PaintAlertBackground(QWidget& window) {
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, QColor(207, 207, 255));
  window.setPalette(palette);
  window.setAutoFillBackground(true);
}

void PlaceAtBottomRight(QWidget& window) {
  QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  const QSize frame = window.frameGeometry().size();
  // A window's position is its frame's: the whole frame stays inside the area.
  window.move(std::max(area.left(), area.right() + 1 - frame.width()),
              std::max(area.top(), area.bottom() + 1 - frame.height()));
}
