// The segmented control: one capsule, the chosen segment filled, clicks on
// enabled segments only.
#include <gtest/gtest.h>

#include <QImage>
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
