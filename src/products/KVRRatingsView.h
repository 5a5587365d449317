#pragma once
// Star ratings: five bars (5 stars at the top down to 1 star), each as long as
// its share of the votes, with the vote counts, the new votes since the last
// look and the mean rating. The small view is the compact layout of the
// overview boxes.
#include <QWidget>
#include <array>
#include <optional>
#include <vector>

class KVRRatingsView : public QWidget {
  Q_OBJECT
 public:
  explicit KVRRatingsView(QWidget* parent = nullptr);
  ~KVRRatingsView() override;

  // Votes and new votes per star level, position 0 = 1 star ... 4 = 5 stars.
  // Missing positions count 0, extra ones are ignored, negative counts read 0.
  void setRatings(const std::vector<int>& votes, const std::vector<int>& newVotes);
  void setSmallView(bool small);
  bool smallView() const { return smallView_; }

  const std::array<int, 5>& votes() const { return votes_; }
  const std::array<int, 5>& newVotes() const { return newVotes_; }
  long long totalVotes() const;
  // The weighted mean of the star levels; none without votes.
  std::optional<double> meanRating() const;
  static std::optional<double> meanRatingFor(const std::array<int, 5>& votes);

  void render(QPainter& painter, const QRectF& rect);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::array<int, 5> votes_{};
  std::array<int, 5> newVotes_{};
  bool smallView_ = false;
};
