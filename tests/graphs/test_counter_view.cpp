// The money counter: target rounding, the 20-step roll and what floatValue
// answers meanwhile.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cmath>
#include <limits>

#include "graphs/KVRVortelyCounterView.h"
#include "render_dir.h"

TEST(CounterView, TargetIsRoundedAsTheAmountFormatterRounds) {
  // Halves go to the even cent, as in every other text of the amount.
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(1417.625), 1417.62);
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(1417.635), 1417.64);
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(-3.456), -3.46);
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(0.004), 0.0);
  // Nine-digit amounts keep their cents.
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(123456789.125), 123456789.12);
  // Not a number never reaches the display.
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(std::numeric_limits<double>::quiet_NaN()), 0.0);
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(std::numeric_limits<double>::infinity()), 0.0);

  KVRVortelyCounterView counter;
  counter.setValue(417.625f, false);
  EXPECT_EQ(counter.displayedText(), "417.62");
  counter.setValue(987654321.5, false);
  EXPECT_TRUE(counter.displayedText().endsWith("321.50"));
  // Whole units when the user rounds money.
  counter.setWholeUnits(true);
  counter.setValue(417.5, false);
  EXPECT_EQ(counter.displayedText(), "418");
}

TEST(CounterView, StillValueShowsAtOnce) {
  KVRVortelyCounterView counter;
  counter.setValue(12.346, false);
  EXPECT_EQ(counter.value(), 12.35);
  EXPECT_EQ(counter.displayedValue(), 12.35);
  EXPECT_FALSE(counter.isAnimating());
}

TEST(CounterView, TwentyStepsReachTheTargetExactly) {
  KVRVortelyCounterView counter;
  counter.setValue(10.0f, false);
  counter.setValue(20.004f, true);
  EXPECT_EQ(counter.floatValue(), 20.0f);  // the target, not the digits on display
  EXPECT_EQ(counter.displayedValue(), 10.0f);
  EXPECT_TRUE(counter.isAnimating());
  double previous = counter.displayedValue();
  for (int i = 1; i < KVRVortelyCounterView::kAnimationSteps; ++i) {
    counter.stepAnimation();
    EXPECT_GT(counter.displayedValue(), previous) << "step " << i;
    EXPECT_LT(counter.displayedValue(), 20.0f) << "step " << i;
    EXPECT_EQ(counter.floatValue(), 20.0f);
    EXPECT_TRUE(counter.isAnimating());
    previous = counter.displayedValue();
  }
  counter.stepAnimation();
  EXPECT_EQ(counter.displayedValue(), 20.0f);
  EXPECT_FALSE(counter.isAnimating());
}

TEST(CounterView, NewTargetRollsOnFromTheDigitsOnDisplay) {
  KVRVortelyCounterView counter;
  counter.setValue(100.0f, true);
  for (int i = 0; i < 10; ++i) counter.stepAnimation();
  EXPECT_EQ(counter.displayedValue(), 50.0f);
  counter.setValue(0.0f, true);
  EXPECT_EQ(counter.displayedValue(), 50.0f);
  counter.stepAnimation();
  EXPECT_FLOAT_EQ(counter.displayedValue(), 47.5f);
  for (int i = 1; i < KVRVortelyCounterView::kAnimationSteps; ++i) counter.stepAnimation();
  EXPECT_EQ(counter.displayedValue(), 0.0f);
  // A still value stops a running animation.
  counter.setValue(5.0f, true);
  counter.setValue(7.0f, false);
  EXPECT_FALSE(counter.isAnimating());
  EXPECT_EQ(counter.displayedValue(), 7.0f);
}

TEST(CounterView, TimerRunsTheRoll) {
  KVRVortelyCounterView counter;
  counter.setValue(-42.42, true);
  QElapsedTimer clock;
  clock.start();
  while (counter.isAnimating() && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(counter.isAnimating());
  EXPECT_EQ(counter.displayedValue(), -42.42);
  // 20 steps of 25 ms: about half a second, never instantly.
  EXPECT_GE(clock.elapsed(), 400);
}

// The digit tiles crossed by a horizontal line just below their top edge.
int tilesAcross(const QImage& img) {
  auto dark = [&](int x, int y) { return qGray(img.pixel(x, y)) < 100; };
  int top = -1;
  for (int y = 0; y < img.height() && top < 0; ++y)
    for (int x = 0; x < img.width(); ++x)
      if (dark(x, y)) { top = y; break; }
  if (top < 0) return 0;
  int tiles = 0;
  bool inTile = false;
  for (int x = 0; x < img.width(); ++x) {
    const bool d = dark(x, top + 1);
    if (d && !inTile) ++tiles;
    inTile = d;
  }
  return tiles;
}

TEST(CounterView, DrawsOneTilePerDigit) {
  KVRVortelyCounterView counter;
  counter.resize(260, 44);
  counter.setValue(123456.78, false);
  const QImage img = counter.grab().toImage();
  saveRender(img, "counter.png");
  EXPECT_EQ(tilesAcross(img), 8);
  // Too narrow: the tiles shrink, none is lost.
  counter.resize(90, 30);
  saveRender(counter.grab().toImage(), "counter-narrow.png");
  EXPECT_EQ(tilesAcross(counter.grab().toImage()), 8);
}
