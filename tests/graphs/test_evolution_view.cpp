// The evolution view: its parts never overlap and no text loses a digit, on
// screen and on paper, however long the figures.
#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <QCoreApplication>

#include "graphs/KVREvolutionView.h"
#include "render_dir.h"

namespace {

KVREvolutionTexts rise(const QString& previous, const QString& current, const QString& difference) {
  KVREvolutionTexts t;
  t.arrowImage = QStringLiteral("up_arrow");
  t.badgeImage = QStringLiteral("evolution_green");
  t.title = difference;
  t.alternateTitle = QStringLiteral("+ 12.34 %");
  t.lastDayValueLeft = previous;
  t.currentDayValueRight = current;
  return t;
}

// Every text whole in its rectangle, nothing over anything else, all inside.
void expectSound(const KVREvolutionLayout& l, KVREvolutionStyle style, const QSizeF& area, const std::string& what) {
  const QRectF bounds(QPointF(0, 0), area);
  std::vector<QRectF> parts;
  if (!l.arrow.isEmpty()) parts.push_back(l.arrow);
  if (style == KVREvolutionStyle::screen && !l.badge.isEmpty()) parts.push_back(l.badge);
  for (const KVREvolutionLayout::Text& t : l.texts) {
    QFont f(KVREvolutionFontFamily(style));
    f.setPixelSize(t.pixelSize);
    f.setBold(t.bold);
    EXPECT_LE(QFontMetricsF(f).horizontalAdvance(t.text), t.rect.width() + 0.01) << what << ": " << t.text.toStdString();
    EXPECT_GE(t.pixelSize, KVREvolutionMinimumPixelSize(style)) << what;
    // The badge's text is inside the badge.
    if (style == KVREvolutionStyle::screen && t.rect == l.badge) continue;
    parts.push_back(t.rect);
  }
  for (size_t a = 0; a < parts.size(); ++a) {
    EXPECT_TRUE(bounds.adjusted(-0.01, -0.01, 0.01, 0.01).contains(parts[a])) << what;
    for (size_t b = a + 1; b < parts.size(); ++b) EXPECT_FALSE(parts[a].intersects(parts[b])) << what;
  }
  EXPECT_TRUE(l.fits) << what;
}

}  // namespace

TEST(EvolutionView, ShortFiguresStayOnOneRow) {
  const KVREvolutionTexts t = rise("835", "890", "+ 55");
  const KVREvolutionLayout l = KVRLayoutEvolution(t, KVREvolutionStyle::screen, QSizeF(280, 56));
  expectSound(l, KVREvolutionStyle::screen, QSizeF(280, 56), "short");
  EXPECT_EQ(l.rows, 1);
  // Earlier figure, arrow, badge, later figure, from left to right.
  ASSERT_EQ(l.texts.size(), 3u);
  EXPECT_LT(l.texts[0].rect.right(), l.arrow.left());
  EXPECT_LT(l.arrow.right(), l.badge.left());
  EXPECT_LT(l.badge.right(), l.texts[2].rect.left());
}

TEST(EvolutionView, NineDigitAmountsKeepEveryDigitOnScreenAndOnPaper) {
  const KVREvolutionTexts t =
      rise("987,654,321.98 €", "999,999,999.99 €", "+ 12,345,678.01 €");
  // The screen's evolution at the smallest window, and the printed trend box
  // of a portrait and a landscape page.
  for (const QSizeF area : {QSizeF(268, 56), QSizeF(330, 56)}) {
    const KVREvolutionLayout l = KVRLayoutEvolution(t, KVREvolutionStyle::screen, area);
    expectSound(l, KVREvolutionStyle::screen, area, "screen");
    // A click shows the percentage in the same badge.
    expectSound(KVRLayoutEvolution(t, KVREvolutionStyle::screen, area, true), KVREvolutionStyle::screen, area,
                "screen, percent");
  }
  for (const QSizeF area : {QSizeF(175, 144), QSizeF(175, 120)}) {
    const KVREvolutionLayout l = KVRLayoutEvolution(t, KVREvolutionStyle::print, area);
    expectSound(l, KVREvolutionStyle::print, area, "paper");
    ASSERT_EQ(l.texts.size(), 4u);  // difference, percentage, two figures
  }
}

TEST(EvolutionView, ClickShowsThePercentageAndDrawsThePill) {
  KVREvolutionView view;
  view.resize(300, 50);
  view.setTexts(rise("835", "890", "+ 55"));
  EXPECT_EQ(view.shownText(), "+ 55");
  const QImage img = view.grab().toImage();
  saveRender(img, "evolution.png");
  const KVREvolutionLayout l = view.currentLayout();
  // The pill in the rise's green, left and right of its text.
  const QColor pill(img.pixel(QPoint(int(l.badge.left() + 6), int(l.badge.center().y()))));
  EXPECT_GT(pill.green(), pill.red() + 40);
  const QPointF centre = l.badge.center();
  QMouseEvent press(QEvent::MouseButtonPress, centre, view.mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(&view, &press);
  EXPECT_TRUE(view.showsAlternate());
  EXPECT_EQ(view.shownText(), "+ 12.34 %");
  // The print twin has no pill and keeps the difference.
  KVREvolutionView print(KVREvolutionStyle::print);
  print.resize(200, 150);
  print.setTexts(rise("835", "890", "+ 55"));
  QCoreApplication::sendEvent(&print, &press);
  EXPECT_EQ(print.shownText(), "+ 55");
}
