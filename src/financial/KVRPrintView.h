#pragma once
// Print layouts. A print layout is a widget whose coordinates are twice the
// printable area: it is rendered at half scale into a printer built from the
// shared print information. The boxes are placed by the layouts' geometry
// (KVRPrintLayouts.h) at the start of the document, and for the overview again
// at every page.
//
// KVRPrintView is the overview report. Its print twins (counter, metric
// labels, evolution, curve graph and the four part charts) are filled from the
// overview's display record with fill(); the overview's print command is
// KVRPrintOverview().
#include <QLabel>
#include <QSizeF>
#include <QWidget>
#include <functional>
#include <memory>

#include "financial/KVRPrintLayouts.h"
#include "overview/KVROverviewPresenter.h"

class QPainter;
class QPrinter;
class KVRVortelyCounterView;
class KVRVortelyGraphView;
class KVRVortelyCamembertGraphView;
class KVREvolutionView;
class KVRFittingLabel;
class KVROverviewGraphSource;
class KVROverviewChartSource;

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

class KVRPrintView : public KVRPrintViewBase {
 public:
  explicit KVRPrintView(QWidget* parent = nullptr);
  ~KVRPrintView() override;

  void adjustSizingForPrinting(const QSizeF& printable) override;
  void beginPageInRect(const QSizeF& printable) override;

  void setHideByProduct(bool hide) { hideByProduct_ = hide; }
  bool hideByProduct() const { return hideByProduct_; }
  void setKindLabel(const QString& kind) { kindLabel_ = kind; }
  QString kindLabel() const { return kindLabel_; }

  // Puts one display and the print captions into the layout's fields: the
  // print twins of the screen get the same values as the screen.
  void fill(const KVROverviewDisplay& display, const KVROverviewControlState& state,
            const KVROverviewPrintCaptions& captions);
  const KVROverviewDisplay& display() const;

  // The layout's elements (outlets).
  QWidget* summaryBand() const { return summary_; }   // subview 0
  QWidget* chartArea() const { return chartArea_; }   // subview 1
  QWidget* topBand() const { return topBand_; }       // subview 2
  KVRPrintBox* trendBox() const { return trendBox_; }
  KVRPrintBox* displaySettingsBox() const { return displaySettingsBox_; }
  KVRPrintBox* downloads1() const { return downloads1_; }
  KVRPrintBox* downloads2() const { return downloads2_; }
  KVRPrintBox* revenues1() const { return revenues1_; }
  KVRPrintBox* revenues2() const { return revenues2_; }
  QWidget* splitBoxDownloads() const { return splitBoxDownloads_; }
  QWidget* splitBoxRevenues() const { return splitBoxRevenues_; }
  QWidget* splitVertical() const { return splitVertical_; }
  QLabel* footerVortelyLabel() const { return footer_; }
  QLabel* downloads1Label() const { return downloads1Label_; }
  QLabel* revenues1Label() const { return revenues1Label_; }
  // The captions of the second division (by country) when it is printed.
  QLabel* downloads2Label() const { return downloads2Label_; }
  QLabel* revenues2Label() const { return revenues2Label_; }
  // Where the charts and captions went in the chart area at the last layout.
  const KVROverviewChartContents& chartContents() const { return chartContents_; }
  QLabel* printTitleLabel() const { return prPrintTitle_; }
  // The original sizes of the boxes (the layout resource's).
  static KVROverviewPrintSizes originalSizes();

 private:
  void buildTopBand();
  void buildSummary();
  void buildTrend();
  void buildDisplaySettings();
  void buildChartArea();
  void placeCaptions();
  void fitTitle();

  bool hideByProduct_ = false;
  QString kindLabel_;
  std::unique_ptr<KVROverviewDisplay> display_;
  std::unique_ptr<KVROverviewGraphSource> graphSource_;
  std::unique_ptr<KVROverviewChartSource> chartSources_[4];

  KVROverviewControlState printState_;
  struct MetricCell {
    QLabel* caption;
    QLabel* value;
    bool ad;  // an ad figure (shown on the ad overview's report)
  };
  std::vector<MetricCell> metricCells_;
  KVRPrintBand* summary_ = nullptr;
  KVRPrintBand* chartArea_ = nullptr;
  KVRPrintBand* topBand_ = nullptr;
  KVRPrintBox* trendBox_ = nullptr;
  KVRPrintBox* displaySettingsBox_ = nullptr;
  KVRPrintBox *downloads1_ = nullptr, *downloads2_ = nullptr, *revenues1_ = nullptr, *revenues2_ = nullptr;
  QWidget *splitBoxDownloads_ = nullptr, *splitBoxRevenues_ = nullptr, *splitVertical_ = nullptr;
  QLabel* footer_ = nullptr;
  QLabel *downloads1Label_ = nullptr, *revenues1Label_ = nullptr;
  QLabel *downloads2Label_ = nullptr, *revenues2Label_ = nullptr;
  KVROverviewChartContents chartContents_;

 public:
  // Print twins of the overview screen's fields.
  QLabel* prPrintTitle_ = nullptr;
  QLabel* prGraphLabel_ = nullptr;
  KVRVortelyGraphView* prLastWeekGraph_ = nullptr;
  KVRVortelyCounterView* prCounterView_ = nullptr;
  QLabel* prRevenuesLabel_ = nullptr;
  QLabel *prSalesDatesLabel_ = nullptr, *prRefundsLabel_ = nullptr, *prUpgradesLabel_ = nullptr,
         *prDownloadsLabel_ = nullptr, *prFillRateLabel_ = nullptr, *preCPMLabel_ = nullptr,
         *prCTRLabel_ = nullptr, *prRequestsLabel_ = nullptr, *prImpressionsLabel_ = nullptr;
  QLabel* prTrendLabel_ = nullptr;
  // The evolution's print twin: arrow (prDayProgressionImage), difference and
  // percentage (prDayVariation) and the four figures.
  KVREvolutionView* prEvolution_ = nullptr;
  QLabel *prDisplayKind_ = nullptr, *prDisplayLatestPeriod_ = nullptr, *prDisplayRegion_ = nullptr,
         *prDisplayView_ = nullptr;
  KVRVortelyCamembertGraphView *prDownloadsCamembert_ = nullptr, *prRevenuesCamembert_ = nullptr,
                               *prDownloadsCamembert2_ = nullptr, *prRevenuesCamembert2_ = nullptr;
};

// The overview's print command: fills the print layout with the display and
// the captions (title, settings, hide flag, kind label) and prints it.
// False when the print was cancelled or failed (with the reason in *error).
bool KVRPrintOverview(const KVROverviewDisplay& display, const KVROverviewControlState& state,
                      const KVROverviewPrintCaptions& captions, QWidget* dialogParent = nullptr,
                      QString* error = nullptr);

class KVROverviewScreen;
// The print command of a shown overview screen, through the shared print
// information: a print asked while a load runs waits for it (at most
// waitSeconds), then prints the screen's last complete display as a whole
// with the captions it was shown with. What the application's print command
// sends to the sales overview (segment 0) and to the iAd overview (segment 5).
bool KVRPrintOverviewScreen(KVROverviewScreen& screen, QWidget* dialogParent = nullptr, QString* error = nullptr,
                            double waitSeconds = 30);
