#pragma once
// The evolution of a figure between two spans: the earlier and the later
// figure, an arrow, and a badge with the difference (a click on the screen
// badge shows the change in percent instead). The overview and the financial
// trend show it on screen and on paper: the screen style draws a coloured
// pill, the print style black text with the percentage under the difference.
//
// Every text keeps all its digits: the view lays its parts out in one row when
// they fit, else the figures go on rows of their own, and the texts shrink
// (down to a readable size) until nothing overlaps and nothing is cut.
#include <QColor>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <vector>

// What an evolution shows. On a rise (or no change) the earlier figure stands
// left of the badge and the later one right of it; on a fall the other way
// round: the four value fields hold the two figures in their places.
struct KVREvolutionTexts {
  QString arrowImage;      // "up_arrow", "down_arrow", "noev_arrow"; empty: no arrow
  QString badgeImage;      // "evolution_green", "evolution_red", "evolution_blue" (screen)
  QString title;           // the difference
  QString alternateTitle;  // the change in percent
  QString lastDayValueLeft, lastDayValueRight, currentDayValueLeft, currentDayValueRight;

  bool operator==(const KVREvolutionTexts&) const = default;
};

enum class KVREvolutionStyle { screen, print };

// Where each part of an evolution goes in an area of a given size.
struct KVREvolutionLayout {
  struct Text {
    QRectF rect;
    QString text;
    int pixelSize = 0;
    bool bold = false;
    QColor color;
  };
  QRectF arrow;             // empty without arrow
  QRectF badge;             // the pill (screen) or the difference's line (paper)
  std::vector<Text> texts;  // every text written: difference (and percentage), figures
  int rows = 0;             // rows used
  bool fits = false;        // everything fits at a readable size
};

// The smallest text sizes, in the style's units (pixels on screen, half points
// on paper).
int KVREvolutionMinimumPixelSize(KVREvolutionStyle style);
// The family of the style's texts.
QString KVREvolutionFontFamily(KVREvolutionStyle style);
// Lays an evolution out. showAlternate: the screen badge shows the percentage.
KVREvolutionLayout KVRLayoutEvolution(const KVREvolutionTexts& texts, KVREvolutionStyle style, const QSizeF& area,
                                      bool showAlternate = false);

class KVREvolutionView : public QWidget {
 public:
  explicit KVREvolutionView(KVREvolutionStyle style = KVREvolutionStyle::screen, QWidget* parent = nullptr);

  void setTexts(const KVREvolutionTexts& texts);
  const KVREvolutionTexts& texts() const { return texts_; }
  KVREvolutionStyle style() const { return style_; }
  // The badge's text: the difference, or the percentage after a click.
  bool showsAlternate() const { return showAlternate_; }
  QString shownText() const { return showAlternate_ ? texts_.alternateTitle : texts_.title; }
  // The layout at the view's present size.
  KVREvolutionLayout currentLayout() const;
  void render(QPainter& painter, const QRectF& rect) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;

 private:
  KVREvolutionStyle style_;
  KVREvolutionTexts texts_;
  bool showAlternate_ = false;
};
