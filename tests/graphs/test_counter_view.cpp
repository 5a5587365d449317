// The money counter: target rounding, the 20-step roll and what floatValue
// answers meanwhile.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cmath>
#include <limits>

#include "graphs/KVRVortelyCounterView.h"
#include "render_dir.h"

TEST(CounterView, TargetIsRoundedToCentsHalfAwayFromZero) {
  // 1.005f * 100 is 100.5 in single precision: rounds up.
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(1.005f), 1.01f);
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(2.499f), 2.5f);
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(-3.456f), -3.46f);
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(-0.005f), -0.01f);
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(0.004f), 0.0f);
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(1234567.0f), 1234567.0f);
  // Not a number never reaches the display.
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(std::numeric_limits<float>::quiet_NaN()), 0.0f);
  EXPECT_EQ(KVRVortelyCounterView::roundedToCents(std::numeric_limits<float>::infinity()), 0.0f);
}

TEST(CounterView, StillValueShowsAtOnce) {
  KVRVortelyCounterView counter;
  counter.setValue(12.345f, false);
  EXPECT_EQ(counter.floatValue(), 12.35f);
  EXPECT_EQ(counter.displayedValue(), 12.35f);
  EXPECT_FALSE(counter.isAnimating());
}

TEST(CounterView, TwentyStepsReachTheTargetExactly) {
  KVRVortelyCounterView counter;
  counter.setValue(10.0f, false);
  counter.setValue(20.004f, true);
  EXPECT_EQ(counter.floatValue(), 20.0f);  // the target, not the digits on display
  EXPECT_EQ(counter.displayedValue(), 10.0f);
  EXPECT_TRUE(counter.isAnimating());
  float previous = counter.displayedValue();
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
  counter.setValue(-42.42f, true);
  QElapsedTimer clock;
  clock.start();
  while (counter.isAnimating() && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(counter.isAnimating());
  EXPECT_EQ(counter.displayedValue(), -42.42f);
  // 20 steps of 25 ms: about half a second, never instantly.
  EXPECT_GE(clock.elapsed(), 400);
}

TEST(CounterView, Renders) {
  KVRVortelyCounterView counter;
  counter.resize(260, 44);
  counter.setValue(123456.78f, false);
  const QImage img = counter.grab().toImage();
  ASSERT_FALSE(img.isNull());
  saveRender(img, "counter.png");
  counter.resize(90, 30);  // too narrow: the tiles shrink
  EXPECT_FALSE(counter.grab().toImage().isNull());
}
