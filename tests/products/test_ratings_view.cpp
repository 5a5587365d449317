// The ratings view: stored counts, the mean star level and renders.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <climits>
#include <cstdlib>

#include "products/KVRRatingsView.h"

namespace {
void saveRatingsRender(const QImage& image, const QString& name) {
  const char* dir = std::getenv("VORTELY_RENDER_DIR");
  if (!dir || !*dir) return;
  QDir().mkpath(QString::fromLocal8Bit(dir));
  image.save(QString::fromLocal8Bit(dir) + u'/' + name);
}

// The pixels of an image close to a colour.
int colouredPixels(const QImage& image, const QColor& c) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      if (std::abs(qRed(p) - c.red()) < 24 && std::abs(qGreen(p) - c.green()) < 24 && std::abs(qBlue(p) - c.blue()) < 24)
        ++n;
    }
  return n;
}
}  // namespace

TEST(RatingsView, MeanIsTheWeightedStarLevel) {
  KVRRatingsView view;
  view.setRatings({1, 0, 0, 0, 1}, {0, 0, 0, 0, 0});
  ASSERT_TRUE(view.meanRating().has_value());
  EXPECT_DOUBLE_EQ(*view.meanRating(), 3.0);
  view.setRatings({0, 0, 0, 0, 10}, {});
  EXPECT_DOUBLE_EQ(*view.meanRating(), 5.0);
  view.setRatings({2, 1, 0, 3, 4}, {});
  EXPECT_DOUBLE_EQ(*view.meanRating(), (2 * 1 + 1 * 2 + 3 * 4 + 4 * 5) / 10.0);
  EXPECT_EQ(view.totalVotes(), 10);
}

TEST(RatingsView, NoVotesNoMean) {
  KVRRatingsView view;
  EXPECT_FALSE(view.meanRating().has_value());
  view.setRatings({0, 0, 0, 0, 0}, {0, 0, 1, 0, 0});
  EXPECT_FALSE(view.meanRating().has_value());
  EXPECT_EQ(view.newVotes()[2], 1);
  view.resize(300, 100);
  // No votes: no bar is filled (the bars start right of the level column).
  const QImage img = view.grab().toImage();
  EXPECT_EQ(colouredPixels(img.copy(155, 0, img.width() - 155, img.height()), QColor(247, 176, 36)), 0);
}

TEST(RatingsView, OddInputIsTamed) {
  KVRRatingsView view;
  // Fewer than five levels count the rest as 0, extra ones are dropped.
  view.setRatings({4}, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(view.votes(), (std::array<int, 5>{4, 0, 0, 0, 0}));
  EXPECT_EQ(view.newVotes(), (std::array<int, 5>{1, 2, 3, 4, 5}));
  EXPECT_DOUBLE_EQ(*view.meanRating(), 1.0);
  // Negative counts read 0.
  view.setRatings({-5, 0, 0, 0, 5}, {-1, 0, 0, 0, 0});
  EXPECT_EQ(view.votes()[0], 0);
  EXPECT_EQ(view.newVotes()[0], 0);
  EXPECT_DOUBLE_EQ(*view.meanRating(), 5.0);
  // Huge counts do not overflow the sums.
  view.setRatings({INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX}, {});
  EXPECT_EQ(view.totalVotes(), 5LL * INT_MAX);
  EXPECT_DOUBLE_EQ(*view.meanRating(), 3.0);
}

TEST(RatingsView, DrawsBarsAsLongAsTheirVotes) {
  KVRRatingsView view;
  view.setRatings({12, 8, 30, 140, 512}, {0, 1, 0, 3, 12});
  view.resize(320, 110);
  const QImage full = view.grab().toImage();
  saveRatingsRender(full, "ratings_full.png");
  // The rows from 5 stars down, each 18 pixels high below a 10-pixel margin;
  // their bars start past the legend column.
  auto barLength = [&](int row) {
    const int y = 10 + 9 + 18 * row;
    return colouredPixels(full.copy(160, y, full.width() - 160, 1), QColor(247, 176, 36));
  };
  EXPECT_NEAR(double(barLength(0)) / barLength(1), 512.0 / 140.0, 0.4);
  EXPECT_GT(barLength(1), barLength(2));

  // The compact view: stars and the new votes in green.
  view.setSmallView(true);
  EXPECT_TRUE(view.smallView());
  view.resize(260, 22);
  const QImage small = view.grab().toImage();
  saveRatingsRender(small, "ratings_small.png");
  EXPECT_GT(colouredPixels(small, QColor(247, 176, 36)), 40);
  EXPECT_GT(colouredPixels(small, QColor(46, 150, 84)), 5);
  view.setRatings({}, {});
  const QImage empty = view.grab().toImage();
  saveRatingsRender(empty, "ratings_small_empty.png");
  EXPECT_EQ(colouredPixels(empty, QColor(247, 176, 36)), 0);
  EXPECT_EQ(colouredPixels(empty, QColor(46, 150, 84)), 0);
}
