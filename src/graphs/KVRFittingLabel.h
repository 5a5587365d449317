#pragma once
// A one-line label for a figure in a box of fixed size: its text shrinks to
// fit the label's width, down to a readable size, and never loses a digit (in
// a box too narrow even for that it keeps shrinking rather than cut). The
// text's length never widens the layout around it: the label asks only for
// room for a short figure.
#include <QFont>
#include <QLabel>

class QPainter;

// The application's font at a size in pixels (rounded, at least 1).
QFont KVRPixelFont(double pixelSize, bool bold = false);
// Draws a text in a rectangle, the font shrunk (down to 70 %) until it fits,
// then elided.
void KVRDrawFittedText(QPainter& p, const QRectF& r, Qt::Alignment align, const QString& text, QFont font);

class KVRFittingLabel : public QLabel {
 public:
  explicit KVRFittingLabel(QWidget* parent = nullptr);

  // The smallest readable size of the text, in pixels (default 9).
  void setMinimumPixelSize(int pixels);
  int minimumPixelSize() const { return minimumPixelSize_; }
  // The size the text is drawn at in the label's present width.
  int fittedPixelSize() const;
  // Whether the text fits at a readable size.
  bool fitsReadably() const { return fittedPixelSize() >= minimumPixelSize_; }
  // For a name rather than a figure: below the readable size it is elided in
  // the middle (keeping a suffix such as " (iOS)"), the whole name its tooltip.
  void setElidesName(bool elides);
  // The text as drawn.
  QString shownText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int minimumPixelSize_ = 9;
  bool elidesName_ = false;
};
