#pragma once
// The duration entry: a line edit showing IntervalText and a "..." button opening a
// pop-up panel with one spin box per unit offered. Values go in and out in minutes.
#include <QString>
#include <QWidget>

#include <array>
#include <optional>

#include "ui/IntervalText.h"

class QFrame;
class QLineEdit;
class QSpinBox;
class QToolButton;

class TTimeInterval : public QWidget {
  Q_OBJECT
public:
  explicit TTimeInterval(QWidget* parent = nullptr);

  // Which units the text and the pop-up panel offer (seconds to hours in the hosts page).
  void SetUnitRange(TIntervalUnit smallest, TIntervalUnit largest);
  TIntervalUnit Smallest() const { return FSmallest; }
  TIntervalUnit Largest() const { return FLargest; }
  // Shows the value as IntervalText; not a user change, so no Changed.
  void SetMinutes(double minutes);
  // ParseIntervalText of the text: nothing for a marker or unreadable text.
  std::optional<double> Minutes() const;
  // A marker such as "(Multiple Values)"; no Changed.
  void SetText(const QString& text);
  // "(No Value)" and "(Multiple Values)", however typed: no value, yet no mistake.
  static constexpr const char* NoValueText = "(No Value)";
  static constexpr const char* MultipleValuesMarker = "(Multiple Values)";
  static bool IsMarker(const QString& text);
  QString Text() const;
  QLineEdit* Edit() const { return FEdit; }

  // The "..." button and its panel; the spin box of a unit outside the range is hidden.
  QToolButton* PopupButton() const { return FButton; }
  QFrame* Popup() const { return FPopup; }
  QSpinBox* Spin(TIntervalUnit unit) const { return FSpins[static_cast<size_t>(unit)]; }
  // Opens the panel below the edit with the current value in the spin boxes.
  void ShowPopup();

signals:
  // The user changed the value: editing finished after typing, or a spin box moved.
  void Changed();

private:
  void EditingFinished();
  void SpinChanged();
  void MarkReadable(bool readable);

  QLineEdit* FEdit;
  QToolButton* FButton;
  QFrame* FPopup;
  std::array<QSpinBox*, 7> FSpins{};
  TIntervalUnit FSmallest = TIntervalUnit::Second;
  TIntervalUnit FLargest = TIntervalUnit::Year;
  bool FFilling = false;
};
