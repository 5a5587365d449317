#pragma once
// The overview report's print layout, KVRPrintView. Its print twins
// (counter, metric labels, evolution, curve graph and the four part charts)
// are filled from the overview's display record with fill(); the overview's
// print command is KVRPrintOverview(). The page geometry and the printing
// itself are the shared print layouts' (print/).
#include <memory>

#include "overview/KVROverviewPresenter.h"
#include "print/KVRPrintViewBase.h"

class KVRVortelyCounterView;
class KVRVortelyGraphView;
class KVRVortelyCamembertGraphView;
class KVREvolutionView;
class KVRFittingLabel;
class KVROverviewGraphSource;
class KVROverviewChartSource;

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
