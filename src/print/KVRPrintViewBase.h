#pragma once
// The shared part of the print layouts. A print layout is a widget whose
// coordinates are twice the printable area: it is printed at half scale into
// a printer built from the shared print information, recorded first so that
// the page keeps every view as vectors. The boxes are placed by the layouts'
// geometry (KVRPrintLayouts.h) at the start of the document, and for the
// overview again at every page.
#include <QLabel>
#include <QSizeF>
#include <QWidget>
#include <functional>

#include "graphs/KVRFittingLabel.h"
#include "print/KVRPrintLayouts.h"

class QPainter;
class QPrinter;
class KVRFittingLabel;


// A box of a print layout, framed or not; its content widget fills it inside
// a small inset.
class KVRPrintBox : public QWidget {
 public:
  explicit KVRPrintBox(QWidget* parent = nullptr);
  void setContent(QWidget* content);
  QWidget* content() const { return content_; }
  void setFramed(bool framed) { framed_ = framed; update(); }
  // Places the content for the box's present size.
  void placeContent();

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  QWidget* content_ = nullptr;
  bool framed_ = true;
};

// A thin separator line.
class KVRPrintSeparator : public QWidget {
 public:
  explicit KVRPrintSeparator(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent*) override;
};

// A widget whose children are placed again whenever it is resized.
class KVRPrintBand : public QWidget {
 public:
  explicit KVRPrintBand(QWidget* parent = nullptr) : QWidget(parent) {}
  std::function<void(const QSize&)> onResize;
  // Places the children for the band's present size.
  void layOut() {
    if (onResize) onResize(size());
  }

 protected:
  void resizeEvent(QResizeEvent*) override {
    if (onResize) onResize(size());
  }
};

// Common part of the three print layouts.
class KVRPrintViewBase : public QWidget {
 public:
  explicit KVRPrintViewBase(QWidget* parent = nullptr);

  // Lays the boxes out for a printable area of w x h points.
  virtual void adjustSizingForPrinting(const QSizeF& printable) = 0;
  // The start of the document: lays out for the printable size.
  virtual void beginDocument(const QSizeF& printable);
  // The start of each page.
  virtual void beginPageInRect(const QSizeF& printable);

  // Prints through the shared print information: to its PDF file when one is
  // set, else through the print dialog. False when cancelled or failed; a
  // failure (file not writable, no usable printer) also gives its reason in
  // *error, a cancellation none.
  bool print(QWidget* dialogParent = nullptr, QString* error = nullptr);
  // Prints into a printer that is already set up (one page).
  bool printTo(QPrinter& printer);
  // The laid-out layout rendered at half scale, as on paper (1 unit = 0.5 pt
  // at the given dots per point).
  QImage renderPage(const QSizeF& printable, double dotsPerPoint = 1.0);

  static QFont printFont(int pixelSize, bool bold = false);
  // The colour of the captions over the charts.
  static QColor titleColor();
  static void setTextColor(QLabel* label, const QColor& color);

 protected:
  void paintEvent(QPaintEvent*) override {}  // the boxes and fields draw themselves
  // Places the contents of every box and band for their present sizes, from
  // the outside in. A layout that is never shown gets no resize events until
  // it is drawn; this places everything at once.
  void layOutContents();
  // Places a child from layout coordinates (bottom-left origin) in its parent.
  static void place(QWidget* w, const KVRLayoutRect& r);
  static KVRLayoutRect frameOf(const QWidget* w);
  static QLabel* makeLabel(QWidget* parent, int pixelSize, bool bold = false,
                           Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);
  // A figure's field: its text shrinks to fit, down to a readable size.
  static KVRFittingLabel* makeFigure(QWidget* parent, int pixelSize, bool bold = false,
                                     Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);
  // The "Printed with Vortely" line at the foot of every page.
  static QLabel* makeFooter(QWidget* parent);
};

// Common part of the financial and rankings layouts: a title line, the footer,
// and the trend and settings boxes, which both pages keep hidden.
class KVRTitledPrintView : public KVRPrintViewBase {
 public:
  QLabel* titleLabel() const { return titleLabel_; }
  QLabel* footerVortelyLabel() const { return footer_; }
  KVRPrintBox* trendBox() const { return trendBox_; }
  KVRPrintBox* displaySettingsBox() const { return displaySettingsBox_; }

 protected:
  explicit KVRTitledPrintView(QWidget* parent = nullptr);
  void hideTrendAndSettings();

  QLabel* titleLabel_ = nullptr;
  QLabel* footer_ = nullptr;
  KVRPrintBox *trendBox_ = nullptr, *displaySettingsBox_ = nullptr;
};
