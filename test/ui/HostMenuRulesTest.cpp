#include "ui/HostMenuRules.h"

#include <gtest/gtest.h>

#include "ui/TTypedKeys.h"

TEST(HostMenuRules, ResetDepthFollowsTheStrongestKeyHeld) {
  EXPECT_EQ(ResetDepth(Qt::NoModifier), 0);
  EXPECT_EQ(ResetDepth(Qt::AltModifier), 0);
  EXPECT_EQ(ResetDepth(Qt::ShiftModifier), 1);
  EXPECT_EQ(ResetDepth(Qt::ControlModifier), 2);
  EXPECT_EQ(ResetDepth(Qt::ControlModifier | Qt::ShiftModifier), 2);
}

TEST(HostMenuRules, CheckedDisableItemMatchesTheRemainingTime) {
  const TDateTime now = 46000.5;
  const double minute = 1.0 / 1440;
  struct TCase {
    TDateTime Until;
    int Item;
  } cases[] = {
      {0, -1},                        // enabled
      {1.0, 0},                       // indefinitely
      {now + 8, 0},                   // beyond a week counts as indefinitely
      {now + 7, 7},                   // exactly a week is the last timed item
      {now + 25 * minute, 1},         // the first item whose span reaches the date
      {now + 30 * minute, 1},
      {now + 31 * minute, 2},
      {now + 4 * 60 * minute, 3},
      {now + 2 * 1440 * minute, 6},
      {now - minute, -1},             // run out: choosing an item must disable again
  };
  for (const TCase& c : cases) EXPECT_EQ(CheckedDisableItem(c.Until, now), c.Item) << c.Until - now;
  EXPECT_STREQ(DisableItems[2].Caption, "For 1 Hour");
  EXPECT_EQ(DisableItems[7].Minutes, 10080);
}

TEST(HostMenuRules, MiniLayoutWidthsAndTheMoveBackOntoTheScreen) {
  const int mini = 170;
  struct TCase {
    int Width;
    bool Narrow, HideConfig, Remember;
  } cases[] = {
      {120, true, true, false},   // below the mini width
      {170, true, true, false},   // at it
      {171, false, true, false},  // just above: not narrow, still too narrow for the button
      {200, false, true, false},  // the 30 pixels above it are not remembered
      {201, false, true, true},
      {385, false, true, true},
      {386, false, false, true},
  };
  for (const TCase& c : cases) {
    const TMiniLayout l = MiniLayoutFor(c.Width, mini);
    EXPECT_EQ(l.Narrow, c.Narrow) << c.Width;
    EXPECT_EQ(l.HideConfig, c.HideConfig) << c.Width;
    EXPECT_EQ(l.RememberNormal, c.Remember) << c.Width;
  }
  EXPECT_EQ(MiniWidth(145, 25), 170);
  EXPECT_EQ(LeftForWidth(100, 800, 0, 1920), 100);    // fits
  EXPECT_EQ(LeftForWidth(1500, 800, 0, 1920), 1120);  // moved left to end at the edge
  EXPECT_EQ(LeftForWidth(1500, 2500, 0, 1920), 0);    // wider than the screen: its left edge
}

TEST(TypedKeys, WordsCountAtTheEndOfTheKeptTailOnly) {
  TTypedKeys keys(30);
  bool seen = false;
  for (QChar c : QStringLiteral("xxeverythingo")) seen |= keys.Add(QString(c), QStringLiteral("everythingok"));
  EXPECT_FALSE(seen);
  EXPECT_TRUE(keys.Add(QStringLiteral("k"), QStringLiteral("everythingok")));
  // Recognised once; the next key does not repeat it.
  EXPECT_FALSE(keys.Add(QStringLiteral("k"), QStringLiteral("everythingok")));
  EXPECT_FALSE(keys.Add(QStringLiteral("EVERYTHINGOK"), QStringLiteral("everythingok")));
  // Keys without text (Shift, arrows) do not break a word.
  TTypedKeys window(100);
  window.Add(QStringLiteral("Thread"), QStringLiteral("ThreadList"));
  window.Add(QString(), QStringLiteral("ThreadList"));
  EXPECT_TRUE(window.Add(QStringLiteral("List"), QStringLiteral("ThreadList")));
  TTypedKeys shortTail(5);
  shortTail.Add(QStringLiteral("abcdefgh"), QStringLiteral("x"));
  EXPECT_EQ(shortTail.Tail(), QStringLiteral("defgh"));
}
