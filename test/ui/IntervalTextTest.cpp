#include "ui/IntervalText.h"
#include "ui/TTimeInterval.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLineEdit>
#include <QSpinBox>
#include <QApplication>

#include <cmath>

using U = TIntervalUnit;

namespace {

// What the user types, replacing the box's text, then Enter.
void TypeInto(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(edit, &press);
  }
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(edit, &enter);
}

}  // namespace

TEST(IntervalText, ShowsAndReadsDurations) {
  struct TShown {
    double Minutes;
    U Smallest, Largest;
    const char* Text;
  } shown[] = {
      {90, U::Second, U::Year, "1 hour 30 minutes"},
      {1, U::Second, U::Year, "1 minute"},
      {0, U::Second, U::Hour, "0 seconds"},
      {-5, U::Minute, U::Hour, "0 minutes"},
      {0.5, U::Second, U::Hour, "30 seconds"},
      {1.0 / 60, U::Second, U::Hour, "1 second"},
      {61.0 / 60, U::Second, U::Hour, "1 minute 1 second"},
      {1.5, U::Minute, U::Hour, "2 minutes"},  // rounded to the smallest unit offered
      {1440, U::Second, U::Hour, "24 hours"},  // days not offered
      {1440 + 60, U::Second, U::Year, "1 day 1 hour"},
      {30 * 1440, U::Second, U::Year, "1 month"},
      {365 * 1440, U::Second, U::Year, "1 year"},
      {8 * 1440, U::Second, U::Year, "1 week 1 day"},
      {1e30, U::Second, U::Second, "1000000000000000 seconds"},  // clamped, not overflowed
  };
  for (const TShown& c : shown)
    EXPECT_EQ(IntervalText(c.Minutes, c.Smallest, c.Largest), c.Text) << c.Minutes;
  EXPECT_EQ(IntervalText(std::nan("")), "0 seconds");

  struct TRead {
    const char* Text;
    std::optional<double> Minutes;
  } read[] = {
      {"1h 30m", 90},
      {"1 hour 30 minutes", 90},
      {"2 hours", 120},
      {"2HOURS", 120},
      {"45 secs", 0.75},
      {"45s", 0.75},
      {"1.5 h", 90},
      {"1 wk, 2 d", 9 * 1440},
      {"1 mo", 30 * 1440},
      {"1 yr", 365 * 1440},
      {"90", 90},  // a lone number is minutes
      {"  3 min  ", 3},
      {"0 seconds", 0},
      {"90 30m", std::nullopt},  // a unitless number among pairs
      {"30m 90", std::nullopt},
      {"5 fortnights", std::nullopt},
      {"abc", std::nullopt},
      {"1.2.3 h", std::nullopt},
      {"-5 m", std::nullopt},
      {"5m!", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"(No Value)", std::nullopt},
      {"(Multiple Values)", std::nullopt},
      {"99999999999999999999 y", std::nullopt},
  };
  for (const TRead& c : read) {
    const auto minutes = ParseIntervalText(c.Text);
    ASSERT_EQ(minutes.has_value(), c.Minutes.has_value()) << c.Text;
    if (minutes) {
      EXPECT_NEAR(*minutes, *c.Minutes, 1e-9) << c.Text;
    }
  }

  // What is shown reads back as the same length.
  for (double seconds : {0.0, 1.0, 59.0, 60.0, 61.0, 3599.0, 3600.0, 5400.0, 86399.0, 86400.0, 1e6, 4e7, 1e9}) {
    const std::string text = IntervalText(seconds / 60);
    const auto back = ParseIntervalText(text);
    ASSERT_TRUE(back) << text;
    EXPECT_NEAR(*back * 60, seconds, 1e-6) << text;
  }
}

TEST(TimeInterval, ChangedFiresOnlyForTheUsersEdits) {
  TTimeInterval control;
  control.SetUnitRange(U::Second, U::Hour);
  int changed = 0;
  QObject::connect(&control, &TTimeInterval::Changed, [&] { ++changed; });

  control.SetMinutes(90);
  control.SetText(QStringLiteral("(Multiple Values)"));
  EXPECT_EQ(control.Text(), "(Multiple Values)");
  EXPECT_FALSE(control.Minutes());
  control.SetMinutes(1440);
  EXPECT_EQ(control.Text(), "24 hours") << "no days in this range";
  // Leaving the box untouched is no change either.
  emit control.Edit()->editingFinished();
  EXPECT_EQ(changed, 0);

  // Typing: the text is shown the way the control writes it.
  TypeInto(control.Edit(), "1h 30m");
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(control.Text(), "1 hour 30 minutes");
  ASSERT_TRUE(control.Minutes());
  EXPECT_DOUBLE_EQ(*control.Minutes(), 90);

  // Unreadable text stays for the user to mend and has no value.
  TypeInto(control.Edit(), "soon");
  EXPECT_EQ(changed, 2);
  EXPECT_EQ(control.Text(), "soon");
  EXPECT_FALSE(control.Minutes());
  EXPECT_FALSE(control.Edit()->toolTip().isEmpty());
  // "(No Value)" stands for no value: taken as typed, not marked as a mistake.
  for (const char* marker : {"(No Value)", " (no value) ", "(Multiple Values)"}) {
    TypeInto(control.Edit(), marker);
    EXPECT_EQ(control.Text(), QString::fromLatin1(marker).trimmed());
    EXPECT_FALSE(control.Minutes());
    EXPECT_TRUE(control.Edit()->toolTip().isEmpty()) << marker;
    EXPECT_TRUE(control.Edit()->styleSheet().isEmpty()) << marker;
  }
  EXPECT_EQ(changed, 5);

  // The pop-up panel offers the range only, starts at the value and changes it.
  control.SetMinutes(61);
  control.ShowPopup();
  EXPECT_EQ(changed, 5) << "filling the panel is no change";
  EXPECT_TRUE(control.Spin(U::Hour)->isVisibleTo(control.Popup()));
  EXPECT_FALSE(control.Spin(U::Day)->isVisibleTo(control.Popup()));
  EXPECT_EQ(control.Spin(U::Hour)->value(), 1);
  EXPECT_EQ(control.Spin(U::Minute)->value(), 1);
  EXPECT_EQ(control.Spin(U::Second)->value(), 0);
  control.Spin(U::Second)->setValue(5);
  EXPECT_EQ(changed, 6);
  EXPECT_EQ(control.Text(), "1 hour 1 minute 5 seconds");
  control.Popup()->hide();
}
