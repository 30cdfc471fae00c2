#pragma once
// What the alert window and the online notice share: their colour and their corner.
class QWidget;

// The pale blue background (red 207, green 207, blue 255).
void PaintAlertBackground(QWidget& window);
// Moves the window into the bottom-right corner of its screen's work area.
void PlaceAtBottomRight(QWidget& window);
