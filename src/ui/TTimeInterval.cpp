#include "ui/TTimeInterval.h"

#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace {

const char* const SpinCaptions[] = {"&Seconds (s)", "&Minutes (m)", "&Hours (h)", "&Days (d)",
                                    "&Weeks (w)",   "M&onths (mo)", "&Years (y)"};

}  // namespace

TTimeInterval::TTimeInterval(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  FEdit = new QLineEdit(this);
  FEdit->setObjectName(QStringLiteral("edInterval"));
  FButton = new QToolButton(this);
  FButton->setText(QStringLiteral("..."));
  FButton->setToolTip(QStringLiteral("Choose the interval unit by unit"));
  layout->addWidget(FEdit, 1);
  layout->addWidget(FButton);
  setFocusProxy(FEdit);

  FPopup = new QFrame(this, Qt::Popup);
  FPopup->setFrameShape(QFrame::StyledPanel);
  auto* form = new QFormLayout(FPopup);
  // Largest unit first, as the text reads.
  for (int u = 6; u >= 0; --u) {
    auto* spin = new QSpinBox(FPopup);
    spin->setRange(0, 99999);
    FSpins[static_cast<size_t>(u)] = spin;
    auto* label = new QLabel(QString::fromLatin1(SpinCaptions[u]), FPopup);
    label->setBuddy(spin);
    form->addRow(label, spin);
    connect(spin, &QSpinBox::valueChanged, this, &TTimeInterval::SpinChanged);
  }

  connect(FEdit, &QLineEdit::editingFinished, this, &TTimeInterval::EditingFinished);
  connect(FEdit, &QLineEdit::textEdited, this, [this] { MarkReadable(true); });
  connect(FButton, &QToolButton::clicked, this, &TTimeInterval::ShowPopup);
  SetUnitRange(FSmallest, FLargest);
  SetMinutes(0);
}

void TTimeInterval::SetUnitRange(TIntervalUnit smallest, TIntervalUnit largest) {
  if (largest < smallest) largest = smallest;
  const std::optional<double> value = Minutes();
  FSmallest = smallest;
  FLargest = largest;
  auto* form = static_cast<QFormLayout*>(FPopup->layout());
  for (int u = 0; u < 7; ++u) {
    const auto unit = static_cast<TIntervalUnit>(u);
    form->setRowVisible(FSpins[static_cast<size_t>(u)], unit >= smallest && unit <= largest);
  }
  if (value) SetMinutes(*value);
}

void TTimeInterval::SetMinutes(double minutes) {
  FEdit->setText(QString::fromLatin1(IntervalText(minutes, FSmallest, FLargest).c_str()));
  FEdit->setModified(false);
  MarkReadable(true);
}

std::optional<double> TTimeInterval::Minutes() const { return ParseIntervalText(FEdit->text().toLatin1().toStdString()); }

void TTimeInterval::SetText(const QString& text) {
  FEdit->setText(text);
  FEdit->setModified(false);
  MarkReadable(true);
}

QString TTimeInterval::Text() const { return FEdit->text(); }

void TTimeInterval::ShowPopup() {
  // The value split into the units offered, as the text shows it.
  long long rest = std::llround(Minutes().value_or(0) * 60.0);
  if (rest < 0) rest = 0;
  FFilling = true;
  for (int u = 6; u >= 0; --u) {
    const auto unit = static_cast<TIntervalUnit>(u);
    QSpinBox* spin = FSpins[static_cast<size_t>(u)];
    long long count = 0;
    if (unit >= FSmallest && unit <= FLargest) {
      count = rest / IntervalUnitSeconds(unit);
      rest -= count * IntervalUnitSeconds(unit);
    }
    spin->setValue(static_cast<int>(std::min<long long>(count, spin->maximum())));
  }
  FFilling = false;
  FPopup->adjustSize();
  FPopup->move(FEdit->mapToGlobal(QPoint(0, FEdit->height())));
  FPopup->show();
  if (QSpinBox* first = Spin(FLargest)) first->setFocus();
}

void TTimeInterval::SpinChanged() {
  if (FFilling) return;
  double seconds = 0;
  for (int u = 0; u < 7; ++u) {
    const auto unit = static_cast<TIntervalUnit>(u);
    if (unit >= FSmallest && unit <= FLargest)
      seconds += FSpins[static_cast<size_t>(u)]->value() * static_cast<double>(IntervalUnitSeconds(unit));
  }
  SetMinutes(seconds / 60.0);
  emit Changed();
}

bool TTimeInterval::IsMarker(const QString& text) {
  const QString t = text.trimmed();
  return t.compare(QLatin1String(NoValueText), Qt::CaseInsensitive) == 0 ||
         t.compare(QLatin1String(MultipleValuesMarker), Qt::CaseInsensitive) == 0;
}

void TTimeInterval::EditingFinished() {
  if (!FEdit->isModified()) return;
  FEdit->setModified(false);
  const std::optional<double> value = Minutes();
  // Readable text is shown the way the control writes it; a typed marker is no value but
  // a meant one; other unreadable text stays for the user to mend, marked, and the owner
  // sees no value.
  if (value) SetMinutes(*value);
  else if (IsMarker(FEdit->text())) SetText(FEdit->text().trimmed());
  else MarkReadable(false);
  emit Changed();
}

void TTimeInterval::MarkReadable(bool readable) {
  if (readable == (FEdit->property("unreadable").toBool() == false)) return;
  FEdit->setProperty("unreadable", !readable);
  FEdit->setStyleSheet(readable ? QString() : QStringLiteral("color: red;"));
  FEdit->setToolTip(readable ? QString()
                             : QStringLiteral("Not a duration: type numbers each followed by a unit, "
                                              "such as \"1 hour 30 minutes\" or \"90 s\"."));
}
