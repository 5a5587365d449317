// The ratings view: stored counts, the mean star level and renders.
#include <gtest/gtest.h>

#include <QDir>
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
  EXPECT_FALSE(view.grab().toImage().isNull());
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

TEST(RatingsView, RendersFullAndSmall) {
  KVRRatingsView view;
  view.setRatings({12, 8, 30, 140, 512}, {0, 1, 0, 3, 12});
  view.resize(320, 110);
  const QImage full = view.grab().toImage();
  ASSERT_FALSE(full.isNull());
  saveRatingsRender(full, "ratings_full.png");
  view.setSmallView(true);
  EXPECT_TRUE(view.smallView());
  view.resize(260, 22);
  saveRatingsRender(view.grab().toImage(), "ratings_small.png");
  view.setRatings({}, {});
  saveRatingsRender(view.grab().toImage(), "ratings_small_empty.png");
}
