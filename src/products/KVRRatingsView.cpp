#include "products/KVRRatingsView.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <algorithm>
#include <cmath>

#include "graphs/KVRGraphStyle.h"

namespace {

QColor starColor() { return QColor(247, 176, 36); }
QColor emptyStarColor() { return QColor(218, 222, 229); }
QColor newVotesColor() { return QColor(46, 150, 84); }

QPainterPath starPath(const QPointF& c, qreal outer) {
  QPainterPath path;
  const qreal inner = outer * 0.45;
  for (int i = 0; i < 10; ++i) {
    const qreal r = i % 2 == 0 ? outer : inner;
    const qreal a = -M_PI / 2 + i * M_PI / 5;
    const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
    if (i == 0)
      path.moveTo(pt);
    else
      path.lineTo(pt);
  }
  path.closeSubpath();
  return path;
}

// Five stars from `left`, filled up to `rating` (0 to 5); returns the width used.
qreal drawStars(QPainter& p, qreal left, qreal centreY, qreal size, double rating) {
  const qreal gap = size * 0.18;
  for (int i = 0; i < 5; ++i) {
    const QPointF c(left + size / 2 + i * (size + gap), centreY);
    const QPainterPath star = starPath(c, size / 2);
    p.setPen(Qt::NoPen);
    p.setBrush(emptyStarColor());
    p.drawPath(star);
    const double fill = std::clamp(rating - i, 0.0, 1.0);
    if (fill > 0) {
      p.save();
      p.setClipRect(QRectF(c.x() - size / 2, c.y() - size / 2, size * fill, size));
      p.setBrush(starColor());
      p.drawPath(star);
      p.restore();
    }
  }
  return 5 * size + 4 * gap;
}

QString meanText(const std::optional<double>& mean) {
  if (!mean) return QStringLiteral("--");
  return KVRGraphNumberText(std::round(*mean * 10.0) / 10.0);
}

}  // namespace

KVRRatingsView::KVRRatingsView(QWidget* parent) : QWidget(parent) { setMinimumSize(90, 18); }

KVRRatingsView::~KVRRatingsView() = default;

void KVRRatingsView::setRatings(const std::vector<int>& votes, const std::vector<int>& newVotes) {
  for (size_t i = 0; i < 5; ++i) {
    votes_[i] = i < votes.size() ? std::max(0, votes[i]) : 0;
    newVotes_[i] = i < newVotes.size() ? std::max(0, newVotes[i]) : 0;
  }
  update();
}

void KVRRatingsView::setSmallView(bool small) {
  smallView_ = small;
  updateGeometry();
  update();
}

long long KVRRatingsView::totalVotes() const {
  long long total = 0;
  for (int v : votes_) total += v;
  return total;
}

std::optional<double> KVRRatingsView::meanRatingFor(const std::array<int, 5>& votes) {
  long long total = 0, weighted = 0;
  for (int i = 0; i < 5; ++i) {
    const long long v = std::max(0, votes[i]);
    total += v;
    weighted += v * (i + 1);
  }
  if (total == 0) return std::nullopt;
  return static_cast<double>(weighted) / static_cast<double>(total);
}

std::optional<double> KVRRatingsView::meanRating() const { return meanRatingFor(votes_); }

QSize KVRRatingsView::sizeHint() const { return smallView_ ? QSize(200, 22) : QSize(320, 110); }

void KVRRatingsView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  render(p, QRectF(rect()));
}

void KVRRatingsView::render(QPainter& p, const QRectF& area) {
  using namespace KVRGraphStyle;
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  const std::optional<double> mean = meanRating();
  const long long total = totalVotes();
  long long newTotal = 0;
  for (int v : newVotes_) newTotal += v;

  if (smallView_) {
    // Stars, mean and count on one line; the five bars in miniature when room is left.
    const qreal size = std::clamp(area.height() - 6, 9.0, 15.0);
    qreal x = area.left() + 2;
    x += drawStars(p, x, area.center().y(), size, mean.value_or(0.0)) + 6;
    p.setFont(uiFont(9, true));
    p.setPen(KVRGraphStyle::text());
    const QString meanStr = meanText(mean);
    const QFontMetricsF fm(p.font());
    p.drawText(QRectF(x, area.top(), fm.horizontalAdvance(meanStr) + 2, area.height()), Qt::AlignVCenter, meanStr);
    x += fm.horizontalAdvance(meanStr) + 5;
    p.setFont(uiFont(8.5));
    p.setPen(secondaryText());
    const QString count = QStringLiteral("(%1)").arg(KVRGraphNumberText(static_cast<double>(total)));
    const QFontMetricsF cfm(p.font());
    p.drawText(QRectF(x, area.top(), cfm.horizontalAdvance(count) + 2, area.height()), Qt::AlignVCenter, count);
    x += cfm.horizontalAdvance(count) + 5;
    if (newTotal > 0) {
      const QString plus = QStringLiteral("+%1").arg(KVRGraphNumberText(static_cast<double>(newTotal)));
      p.setPen(newVotesColor());
      p.setFont(uiFont(8.5, true));
      const QFontMetricsF nfm(p.font());
      p.drawText(QRectF(x, area.top(), nfm.horizontalAdvance(plus) + 2, area.height()), Qt::AlignVCenter, plus);
      x += nfm.horizontalAdvance(plus) + 6;
    }
    // The five bars in miniature: 1 star on the left to 5 stars on the right.
    const qreal barsWidth = std::min<qreal>(44, area.right() - 2 - x);
    if (barsWidth >= 20 && area.height() >= 10) {
      const qreal slot = barsWidth / 5.0;
      const QRectF box(x, area.top() + 3, barsWidth, area.height() - 6);
      int highest = 0;
      for (int v : votes_) highest = std::max(highest, v);
      for (int level = 0; level < 5; ++level) {
        const QRectF track(box.left() + level * slot + 1, box.top(), slot - 2, box.height());
        p.setPen(Qt::NoPen);
        p.setBrush(emptyStarColor().lighter(104));
        p.drawRoundedRect(track, 1.5, 1.5);
        if (highest > 0 && votes_[level] > 0) {
          const qreal h = std::max<qreal>(2, track.height() * votes_[level] / static_cast<double>(highest));
          p.setBrush(starColor());
          p.drawRoundedRect(QRectF(track.left(), track.bottom() - h, track.width(), h), 1.5, 1.5);
        }
      }
    }
    p.restore();
    return;
  }

  drawPanel(p, area);
  const QRectF inner = area.adjusted(12, 10, -12, -10);
  // Left: the mean, its stars and the number of votes.
  const qreal leftWidth = std::min<qreal>(118, inner.width() * 0.36);
  p.setFont(uiFont(24, true));
  p.setPen(KVRGraphStyle::text());
  p.drawText(QRectF(inner.left(), inner.top(), leftWidth, inner.height() * 0.52), Qt::AlignHCenter | Qt::AlignBottom,
             meanText(mean));
  const qreal starSize = std::min<qreal>(16, (leftWidth - 8) / 5.8);
  const qreal starsWidth = 5 * starSize + 4 * starSize * 0.18;
  drawStars(p, inner.left() + (leftWidth - starsWidth) / 2, inner.top() + inner.height() * 0.52 + starSize * 0.8, starSize,
            mean.value_or(0.0));
  p.setFont(uiFont(8.5));
  p.setPen(secondaryText());
  QString votesLine = KVRGraphNumberText(static_cast<double>(total));
  p.drawText(QRectF(inner.left(), inner.top() + inner.height() * 0.52 + starSize * 1.5, leftWidth, 16), Qt::AlignHCenter,
             votesLine);

  // Right: the five bars, 5 stars at the top.
  const QRectF bars(inner.left() + leftWidth + 14, inner.top(), inner.width() - leftWidth - 14, inner.height());
  const qreal rowH = bars.height() / 5.0;
  const QFont levelFont = uiFont(8.5, true), countFont = uiFont(8.5), newFont = uiFont(8.5, true);
  const QFontMetricsF cfm(countFont);
  qreal countWidth = cfm.horizontalAdvance(QStringLiteral("0000"));
  for (int v : votes_) countWidth = std::max(countWidth, cfm.horizontalAdvance(KVRGraphNumberText(v)));
  qreal newWidth = 0;
  for (int v : newVotes_)
    if (v > 0) newWidth = std::max(newWidth, cfm.horizontalAdvance(QStringLiteral("+") + KVRGraphNumberText(v)) + 6);
  const qreal labelWidth = 28;
  const qreal trackLeft = bars.left() + labelWidth;
  const qreal trackWidth = std::max<qreal>(10, bars.width() - labelWidth - countWidth - newWidth - 8);
  for (int r = 0; r < 5; ++r) {
    const int level = 4 - r;
    const QRectF row(bars.left(), bars.top() + r * rowH, bars.width(), rowH);
    p.setFont(levelFont);
    p.setPen(secondaryText());
    p.drawText(QRectF(row.left(), row.top(), labelWidth - 14, rowH), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(level + 1));
    p.setPen(Qt::NoPen);
    p.setBrush(starColor());
    p.drawPath(starPath(QPointF(row.left() + labelWidth - 7, row.center().y()), 4.5));
    const qreal h = std::min<qreal>(9, rowH * 0.55);
    const QRectF track(trackLeft, row.center().y() - h / 2, trackWidth, h);
    p.setBrush(QColor(234, 237, 242));
    p.drawRoundedRect(track, h / 2, h / 2);
    if (total > 0 && votes_[level] > 0) {
      QRectF bar = track;
      bar.setWidth(std::max(h, track.width() * votes_[level] / static_cast<double>(total)));
      QLinearGradient g(bar.topLeft(), bar.bottomLeft());
      g.setColorAt(0, starColor().lighter(110));
      g.setColorAt(1, starColor().darker(105));
      p.setBrush(g);
      p.drawRoundedRect(bar, h / 2, h / 2);
    }
    p.setFont(countFont);
    p.setPen(KVRGraphStyle::text());
    p.drawText(QRectF(track.right() + 6, row.top(), countWidth, rowH), Qt::AlignRight | Qt::AlignVCenter,
               KVRGraphNumberText(votes_[level]));
    if (newVotes_[level] > 0) {
      p.setFont(newFont);
      p.setPen(newVotesColor());
      p.drawText(QRectF(track.right() + 6 + countWidth + 6, row.top(), newWidth, rowH), Qt::AlignLeft | Qt::AlignVCenter,
                 QStringLiteral("+") + KVRGraphNumberText(newVotes_[level]));
    }
  }
  p.restore();
}
