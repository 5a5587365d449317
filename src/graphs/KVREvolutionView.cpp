#include "graphs/KVREvolutionView.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "graphs/KVRStockImages.h"

namespace {

struct Look {
  QColor current, previous, title, alternate;
  int arrow;         // arrow size at full scale
  int valueSize;     // figures
  int titleSize;     // difference
  int alternateSize; // percentage (paper)
  qreal hGap, vGap;
  qreal badgePadX, badgePadY, badgeMinWidth;  // screen pill
};

Look lookOf(KVREvolutionStyle style) {
  if (style == KVREvolutionStyle::print)
    return Look{QColor(0x22, 0x26, 0x2b), QColor(0x6b, 0x72, 0x7c), QColor(0x22, 0x26, 0x2b), QColor(0x6b, 0x72, 0x7c),
                36, 17, 24, 16, 12, 4, 0, 0, 0};
  return Look{QColor(0x1f, 0x25, 0x2d), QColor(0x6b, 0x74, 0x80), Qt::white, Qt::white,
              26, 13, 14, 14, 8, 4, 14, 6, 110};
}

// One part of a row.
struct Item {
  enum Kind { label, arrow, badge } kind = label;
  QString text;
  int base = 0;  // pixel size at full scale
  bool bold = false;
  QColor color;
  bool difference = false;  // the badge's text (a plain line on paper)
};

struct Row {
  std::vector<Item> items;
  bool spread = false;  // first item at the left edge, last at the right edge
};

QFont fontOf(KVREvolutionStyle style, int pixelSize, bool bold) {
  QFont f(KVREvolutionFontFamily(style));
  f.setPixelSize(std::max(1, pixelSize));
  f.setBold(bold);
  return f;
}

// A text's size at a scale: never below the floor (the readable size, or
// smaller in the last resort), never above its full size.
int scaled(int base, double scale, int floor) {
  return std::min(base, std::max(floor, int(std::lround(base * scale))));
}

struct Measured {
  qreal width = 0, height = 0;
  int pixelSize = 0;
};

}  // namespace

int KVREvolutionMinimumPixelSize(KVREvolutionStyle style) { return style == KVREvolutionStyle::print ? 12 : 9; }

QString KVREvolutionFontFamily(KVREvolutionStyle style) {
  return style == KVREvolutionStyle::print ? QStringLiteral("DejaVu Sans") : QApplication::font().family();
}

KVREvolutionLayout KVRLayoutEvolution(const KVREvolutionTexts& t, KVREvolutionStyle style, const QSizeF& area,
                                      bool showAlternate) {
  const Look look = lookOf(style);
  const bool paper = style == KVREvolutionStyle::print;

  // The figure left of the badge and the one right of it; the later figure is bold.
  const bool leftIsCurrent = !t.currentDayValueLeft.isEmpty();
  const bool rightIsCurrent = !t.currentDayValueRight.isEmpty();
  const QString left = leftIsCurrent ? t.currentDayValueLeft : t.lastDayValueLeft;
  const QString right = rightIsCurrent ? t.currentDayValueRight : t.lastDayValueRight;
  auto figure = [&](const QString& s, bool current) {
    return Item{Item::label, s, look.valueSize, current, current ? look.current : look.previous};
  };
  const Item L = figure(left, leftIsCurrent), R = figure(right, rightIsCurrent);
  const Item arrow{Item::arrow, t.arrowImage, look.arrow, false, QColor()};
  const QString badgeText = showAlternate && !paper ? t.alternateTitle : t.title;
  const Item badge{paper ? Item::label : Item::badge, badgeText, look.titleSize, true, look.title, true};
  const Item alternate{Item::label, t.alternateTitle, look.alternateSize, false, look.alternate};

  std::vector<std::vector<Row>> arrangements;
  if (paper) {
    arrangements.push_back({Row{{arrow}}, Row{{badge}}, Row{{alternate}}, Row{{L, R}, true}});
    arrangements.push_back({Row{{arrow}}, Row{{badge}}, Row{{alternate}}, Row{{L}}, Row{{R}}});
    arrangements.push_back({Row{{arrow, badge}}, Row{{alternate}}, Row{{L}}, Row{{R}}});
  } else {
    arrangements.push_back({Row{{L, arrow, badge, R}}});
    arrangements.push_back({Row{{arrow, badge}}, Row{{L, R}, true}});
    arrangements.push_back({Row{{arrow, badge}}, Row{{L}}, Row{{R}}});
  }
  // Parts with nothing to show take no room.
  for (auto& rows : arrangements) {
    for (Row& row : rows)
      row.items.erase(std::remove_if(row.items.begin(), row.items.end(),
                                     [](const Item& i) { return i.kind != Item::badge && i.text.isEmpty(); }),
                      row.items.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [](const Row& r) { return r.items.empty(); }), rows.end());
  }

  // The badge keeps the width of the longer of its two texts, so that a
  // click does not move the figures.
  int floor = KVREvolutionMinimumPixelSize(style);
  auto measure = [&](const Item& i, double scale) {
    Measured m;
    m.pixelSize = i.kind == Item::arrow ? scaled(i.base, scale, 12) : scaled(i.base, scale, floor);
    if (i.kind == Item::arrow) {
      m.width = m.height = m.pixelSize;
      return m;
    }
    const QFontMetricsF fm(fontOf(style, m.pixelSize, i.bold));
    m.height = fm.height();
    m.width = fm.horizontalAdvance(i.text) + 1;
    if (i.kind == Item::badge) {
      m.width = std::max(fm.horizontalAdvance(t.title), fm.horizontalAdvance(t.alternateTitle)) + 1;
      m.width = std::max(m.width + 2 * look.badgePadX * scale, look.badgeMinWidth * scale);
      m.height += 2 * look.badgePadY * scale;
    }
    return m;
  };
  auto rowSize = [&](const Row& row, double scale) {
    QSizeF s;
    for (size_t k = 0; k < row.items.size(); ++k) {
      const Measured m = measure(row.items[k], scale);
      s.rwidth() += m.width + (k ? look.hGap * (row.spread ? 1.5 : 1.0) : 0);
      s.rheight() = std::max(s.height(), m.height);
    }
    return s;
  };
  auto fits = [&](const std::vector<Row>& rows, double scale) {
    qreal height = 0;
    for (size_t r = 0; r < rows.size(); ++r) {
      const QSizeF s = rowSize(rows[r], scale);
      if (s.width() > area.width()) return false;
      height += s.height() + (r ? look.vGap : 0);
    }
    return height <= area.height();
  };

  // Each arrangement at the largest scale at which it fits, texts no smaller
  // than readable. The first arrangement that fits nearly at full size wins;
  // else the one that fits largest; else, as a last resort, the last one with
  // texts smaller than readable.
  const int maxBase = std::max({look.valueSize, look.titleSize, look.alternateSize});
  auto bestScale = [&](const std::vector<Row>& rows) -> double {
    for (double s = 1.0; s > 0.05; s -= 0.02) {
      if (fits(rows, s)) return s;
      if (scaled(maxBase, s, floor) == floor && scaled(look.arrow, s, 12) == 12) break;  // nothing left to shrink
    }
    return 0;
  };
  const std::vector<Row>* chosen = nullptr;
  double scale = 0;
  for (const auto& rows : arrangements) {
    const double s = bestScale(rows);
    if (s >= 0.85) {
      chosen = &rows;
      scale = s;
      break;
    }
    if (s > scale) {
      chosen = &rows;
      scale = s;
    }
  }
  const bool readable = chosen != nullptr;
  if (!chosen) {
    chosen = &arrangements.back();
    for (floor = KVREvolutionMinimumPixelSize(style) - 1; floor > 3; --floor) {
      scale = bestScale(*chosen);
      if (scale > 0) break;
    }
    if (scale <= 0) scale = 0.05;
  }

  KVREvolutionLayout out;
  out.fits = readable;
  out.rows = int(chosen->size());
  qreal total = 0;
  for (size_t r = 0; r < chosen->size(); ++r) total += rowSize((*chosen)[r], scale).height() + (r ? look.vGap : 0);
  qreal y = std::max<qreal>(0, (area.height() - total) / 2);
  for (const Row& row : *chosen) {
    const QSizeF size = rowSize(row, scale);
    qreal x = row.spread ? 0 : (area.width() - size.width()) / 2;
    for (size_t k = 0; k < row.items.size(); ++k) {
      const Item& item = row.items[k];
      const Measured m = measure(item, scale);
      if (row.spread && k + 1 == row.items.size() && k > 0) x = area.width() - m.width;
      const QRectF rect(x, y + (size.height() - m.height) / 2, m.width, m.height);
      switch (item.kind) {
        case Item::arrow:
          out.arrow = rect;
          break;
        case Item::badge:
          out.badge = rect;
          out.texts.push_back({rect, item.text, m.pixelSize, true, item.color});
          break;
        case Item::label:
          if (item.difference) out.badge = rect;
          out.texts.push_back({rect, item.text, m.pixelSize, item.bold, item.color});
          break;
      }
      x += m.width + look.hGap * (row.spread ? 1.5 : 1.0);
    }
    y += size.height() + look.vGap;
  }
  return out;
}

// --- View ---------------------------------------------------------------------------

KVREvolutionView::KVREvolutionView(KVREvolutionStyle style, QWidget* parent) : QWidget(parent), style_(style) {
  if (style_ == KVREvolutionStyle::screen) setCursor(Qt::PointingHandCursor);
  // The texts fit themselves: they never widen the window.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void KVREvolutionView::setTexts(const KVREvolutionTexts& texts) {
  texts_ = texts;
  setToolTip(style_ == KVREvolutionStyle::screen ? texts_.alternateTitle : QString());
  update();
}

KVREvolutionLayout KVREvolutionView::currentLayout() const {
  return KVRLayoutEvolution(texts_, style_, QSizeF(size()), showAlternate_);
}

QSize KVREvolutionView::sizeHint() const {
  return style_ == KVREvolutionStyle::print ? QSize(200, 140) : QSize(340, 40);
}

QSize KVREvolutionView::minimumSizeHint() const {
  return style_ == KVREvolutionStyle::print ? QSize(60, 60) : QSize(120, 34);
}

void KVREvolutionView::render(QPainter& p, const QRectF& rect) const {
  const KVREvolutionLayout layout = KVRLayoutEvolution(texts_, style_, rect.size(), showAlternate_);
  p.save();
  p.translate(rect.topLeft());
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
  if (!layout.arrow.isEmpty()) {
    if (style_ == KVREvolutionStyle::print) {
      // On paper the arrow is drawn as shapes, sharp at any zoom.
      KVRDrawStockImage(p, texts_.arrowImage, layout.arrow);
    } else {
      const int side = int(std::lround(layout.arrow.width()));
      const QImage image = KVRStockImage(texts_.arrowImage, QSize(side, side), dpr);
      if (!image.isNull()) p.drawImage(layout.arrow, image);
    }
  }
  if (style_ == KVREvolutionStyle::screen && !layout.badge.isEmpty()) {
    const QImage pill = KVRStockImage(texts_.badgeImage, layout.badge.size().toSize(), dpr);
    if (!pill.isNull()) p.drawImage(layout.badge.topLeft(), pill);
  }
  for (const KVREvolutionLayout::Text& t : layout.texts) {
    p.setFont(fontOf(style_, t.pixelSize, t.bold));
    p.setPen(t.color);
    p.drawText(t.rect, Qt::AlignCenter, t.text);
  }
  p.restore();
}

void KVREvolutionView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  render(p, QRectF(rect()));
}

void KVREvolutionView::mousePressEvent(QMouseEvent* event) {
  if (style_ != KVREvolutionStyle::screen) return;
  // A click on the badge shows the change in percent, another the difference.
  if (currentLayout().badge.contains(event->position())) {
    showAlternate_ = !showAlternate_;
    update();
  }
}
