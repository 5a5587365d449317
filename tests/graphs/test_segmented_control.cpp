// The segmented control: one capsule, the chosen segment filled, clicks on
// enabled segments only.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QObject>
#include <vector>

#include "graphs/KVRSegmentedControl.h"
#include "render_dir.h"

TEST(SegmentedControl, OneCapsuleWithTheChosenSegmentFilled) {
  KVRSegmentedControl control({"Overview", "Financial Statements", "iAd Overview"});
  control.setMinimumSegmentWidth(150);
  control.resize(control.sizeHint());
  control.setSelectedSegment(1);
  const QImage img = control.grab().toImage();
  saveRender(img, "segments.png");
  // The segments share the capsule edge to edge, with no gap between them.
  for (int i = 1; i < 3; ++i) EXPECT_DOUBLE_EQ(control.segmentRect(i).left(), control.segmentRect(i - 1).right());
  EXPECT_GE(control.segmentRect(0).width(), 150);
  // The chosen segment is filled, the others white, between the labels' ends.
  auto fill = [&](int segment) {
    const QRectF r = control.segmentRect(segment);
    return QColor(img.pixel(QPoint(int(r.left() + 6), int(r.top() + 4))));
  };
  EXPECT_EQ(fill(1), QColor(0x3b, 0x82, 0xc4));
  EXPECT_EQ(fill(0), QColor(Qt::white));
  EXPECT_EQ(fill(2), QColor(Qt::white));

  std::vector<int> clicked;
  QObject::connect(&control, &KVRSegmentedControl::segmentClicked, [&](int s) { clicked.push_back(s); });
  control.clickSegment(2);
  EXPECT_EQ(control.selectedSegment(), 2);
  EXPECT_EQ(clicked, std::vector<int>{2});
  control.setSegmentEnabled(0, false);
  control.clickSegment(0);
  EXPECT_EQ(control.selectedSegment(), 2);
  EXPECT_EQ(clicked.size(), 1u);
  EXPECT_EQ(control.segmentAt(control.segmentRect(1).center()), 1);
  EXPECT_EQ(control.segmentAt(QPointF(-5, -5)), -1);
}

// From the keyboard: the arrows move the focus ring over enabled segments
// only, Space chooses the segment under it and announces it; the ring shows.
TEST(SegmentedControl, ArrowsMoveTheRingAndSpaceChooses) {
  KVRSegmentedControl control({"EUR", "Local", "Units"});
  control.resize(control.sizeHint());
  control.show();
  control.activateWindow();
  for (int i = 0; i < 500 && !control.isActiveWindow(); ++i) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  control.setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(control.hasFocus());
  EXPECT_EQ(control.focusPolicy(), Qt::TabFocus);
  std::vector<int> clicked;
  QObject::connect(&control, &KVRSegmentedControl::segmentClicked, [&](int s) { clicked.push_back(s); });
  auto press = [&](int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&control, &event);
  };

  EXPECT_EQ(control.focusedSegment(), 0);
  control.setSegmentEnabled(1, false);
  press(Qt::Key_Right);  // over the disabled "Local"
  EXPECT_EQ(control.focusedSegment(), 2);
  EXPECT_EQ(control.selectedSegment(), 0);
  // The ring is drawn inside the focused segment, not in the others.
  const QImage img = control.grab().toImage();
  auto ringPixel = [&](int segment) {
    const QRectF r = control.segmentRect(segment);
    return QColor(img.pixel(QPoint(int(r.center().x()), int(r.top() + 1))));
  };
  EXPECT_EQ(ringPixel(2), QColor(0x7f, 0xb2, 0xe5));
  EXPECT_EQ(ringPixel(1), QColor(Qt::white));
  press(Qt::Key_Right);  // at the end: stays
  EXPECT_EQ(control.focusedSegment(), 2);
  press(Qt::Key_Space);
  EXPECT_EQ(control.selectedSegment(), 2);
  EXPECT_EQ(clicked, std::vector<int>{2});
  press(Qt::Key_Left);
  EXPECT_EQ(control.focusedSegment(), 0);
  press(Qt::Key_Return);
  EXPECT_EQ(control.selectedSegment(), 0);
  EXPECT_EQ(clicked, (std::vector<int>{2, 0}));
}
