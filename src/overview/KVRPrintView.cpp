#include "overview/KVRPrintView.h"

#include <QPainter>
#include <cmath>

#include "graphs/KVREvolutionView.h"
#include "graphs/KVRFittingLabel.h"
#include "graphs/KVRVortelyCamembertGraphView.h"
#include "graphs/KVRVortelyCounterView.h"
#include "graphs/KVRVortelyGraphView.h"
#include "overview/KVROverviewScreen.h"
#include "overview/KVROverviewSources.h"
#include "platform/KVRLocalization.h"

// --- Overview report -----------------------------------------------------------------

KVROverviewPrintSizes KVRPrintView::originalSizes() {
  KVROverviewPrintSizes s;
  s.topBand = KVRLayoutRect{0, 0, 1110, 390};
  s.summary = KVRLayoutRect{0, 0, 887, 200};
  s.trend = KVRLayoutRect{0, 0, 203, 200};
  s.displaySettings = KVRLayoutRect{0, 0, 1110, 84};
  s.chartArea = KVRLayoutRect{0, 0, 1110, 700};
  return s;
}

KVRPrintView::KVRPrintView(QWidget* parent)
    : KVRPrintViewBase(parent), display_(std::make_unique<KVROverviewDisplay>()) {
  graphSource_ = std::make_unique<KVROverviewGraphSource>(display_.get(), &printState_);
  const KVRPartChart charts[4] = {KVRPartChart::printDownloads, KVRPartChart::printRevenues,
                                  KVRPartChart::printDownloads2, KVRPartChart::printRevenues2};
  for (int i = 0; i < 4; ++i)
    chartSources_[i] = std::make_unique<KVROverviewChartSource>(charts[i], display_.get(), &printState_);

  // Subviews 0, 1 and 2 in this order: summary band, chart area, top band.
  summary_ = new KVRPrintBand(this);
  chartArea_ = new KVRPrintBand(this);
  topBand_ = new KVRPrintBand(this);
  trendBox_ = new KVRPrintBox(this);
  displaySettingsBox_ = new KVRPrintBox(this);
  footer_ = makeFooter(this);

  const KVROverviewPrintSizes o = originalSizes();
  summary_->resize(int(o.summary.w), int(o.summary.h));
  chartArea_->resize(int(o.chartArea.w), int(o.chartArea.h));
  topBand_->resize(int(o.topBand.w), int(o.topBand.h));
  trendBox_->resize(int(o.trend.w), int(o.trend.h));
  displaySettingsBox_->resize(int(o.displaySettings.w), int(o.displaySettings.h));

  buildTopBand();
  buildSummary();
  buildTrend();
  buildDisplaySettings();
  buildChartArea();
}

KVRPrintView::~KVRPrintView() {
  // The views go before their data sources.
  qDeleteAll(findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
}

const KVROverviewDisplay& KVRPrintView::display() const { return *display_; }

void KVRPrintView::buildTopBand() {
  prPrintTitle_ = makeLabel(topBand_, 34, true);
  prGraphLabel_ = makeLabel(topBand_, 20, true);
  setTextColor(prGraphLabel_, titleColor());
  auto* graphBox = new KVRPrintBox(topBand_);
  prLastWeekGraph_ = new KVRVortelyGraphView;
  prLastWeekGraph_->setKindOfGraph(2);
  prLastWeekGraph_->setShowValues(true);
  prLastWeekGraph_->setDataSource(graphSource_.get());
  graphBox->setContent(prLastWeekGraph_);
  topBand_->onResize = [this, graphBox](const QSize& s) {
    prPrintTitle_->setGeometry(0, 0, s.width(), 50);
    prGraphLabel_->setGeometry(4, 56, s.width() - 8, 30);
    graphBox->setGeometry(0, 90, s.width(), std::max(0, s.height() - 90));
  };
  topBand_->onResize(topBand_->size());
}

void KVRPrintView::buildSummary() {
  auto* box = new KVRPrintBox(summary_);
  auto* inner = new KVRPrintBand;
  box->setContent(inner);
  prRevenuesLabel_ = makeLabel(inner, 17, false);
  prCounterView_ = new KVRVortelyCounterView(inner);

  struct Metric {
    const char* caption;
    QLabel** field;
  };
  const Metric metrics[] = {
      {"Sales", &prSalesDatesLabel_},     {"Refunds", &prRefundsLabel_},     {"Upgrades", &prUpgradesLabel_},
      {"Downloads", &prDownloadsLabel_},  {"Requests", &prRequestsLabel_},   {"Impressions", &prImpressionsLabel_},
      {"Fill Rate", &prFillRateLabel_},   {"eCPM", &preCPMLabel_},           {"CTR", &prCTRLabel_},
  };
  for (size_t i = 0; i < std::size(metrics); ++i) {
    QLabel* caption = makeLabel(inner, 16, false);
    caption->setText(KVRLocalized(metrics[i].caption));
    *metrics[i].field = makeFigure(inner, 26, true);
    // The first four are sales figures, the other five ad figures.
    metricCells_.push_back(MetricCell{caption, *metrics[i].field, i >= 4});
  }
  // The counter on the left, the figures in two rows over the rest of the box.
  inner->onResize = [this](const QSize& s) {
    const int counterW = std::min(400, int(s.width() * 0.4));
    prRevenuesLabel_->setGeometry(4, 0, counterW, 26);
    const int ch = std::max(0, std::min(s.height() - 34, 96));
    prCounterView_->setGeometry(0, 30 + std::max(0, (s.height() - 30 - ch) / 2), counterW, ch);
    const int gx = counterW + 36, gw = std::max(0, s.width() - gx);
    const int columns = printState_.iAd ? 3 : 2;
    const int colW = gw / columns, rowH = std::max(1, s.height() / 2);
    int shown = 0;
    for (const MetricCell& c : metricCells_) {
      const bool visible = c.ad == printState_.iAd;
      c.caption->setVisible(visible);
      c.value->setVisible(visible);
      if (!visible) continue;
      const int x = gx + (shown % columns) * colW, y = (shown / columns) * rowH;
      c.caption->setGeometry(x, y + 6, colW - 12, 22);
      c.value->setGeometry(x, y + 30, colW - 12, std::min(40, rowH - 30));
      ++shown;
    }
  };
  summary_->onResize = [box](const QSize& s) { box->setGeometry(QRect(QPoint(0, 0), s)); };
  summary_->onResize(summary_->size());
}

void KVRPrintView::buildTrend() {
  auto* inner = new KVRPrintBand;
  trendBox_->setContent(inner);
  prTrendLabel_ = makeFigure(inner, 18, true, Qt::AlignHCenter | Qt::AlignVCenter);
  prEvolution_ = new KVREvolutionView(KVREvolutionStyle::print, inner);
  inner->onResize = [this](const QSize& s) {
    prTrendLabel_->setGeometry(0, 0, s.width(), 24);
    prEvolution_->setGeometry(0, 28, s.width(), std::max(0, s.height() - 28));
  };
}

void KVRPrintView::buildDisplaySettings() {
  auto* inner = new KVRPrintBand;
  displaySettingsBox_->setContent(inner);
  const char* captions[] = {"Value", "Period", "Region", "View"};
  QLabel** fields[] = {&prDisplayKind_, &prDisplayLatestPeriod_, &prDisplayRegion_, &prDisplayView_};
  std::vector<std::pair<QLabel*, QLabel*>> cells;
  for (int i = 0; i < 4; ++i) {
    QLabel* c = makeLabel(inner, 15, false);
    c->setText(KVRLocalized(captions[i]));
    *fields[i] = makeLabel(inner, 18, true);
    cells.emplace_back(c, *fields[i]);
  }
  // A setting without a value (the region of the ad overview) leaves no empty column.
  inner->onResize = [cells](const QSize& s) {
    int shown = 0;
    for (const auto& c : cells) shown += c.second->text().isEmpty() ? 0 : 1;
    const int colW = s.width() / std::max(1, shown);
    int column = 0;
    for (const auto& [caption, value] : cells) {
      const bool visible = !value->text().isEmpty();
      caption->setVisible(visible);
      value->setVisible(visible);
      if (!visible) continue;
      caption->setGeometry(column * colW, 0, colW - 10, 22);
      value->setGeometry(column * colW, 22, colW - 10, std::max(0, s.height() - 22));
      ++column;
    }
  };
}

void KVRPrintView::buildChartArea() {
  QLabel** captions[4] = {&downloads1Label_, &revenues1Label_, &downloads2Label_, &revenues2Label_};
  for (QLabel** caption : captions) {
    *caption = makeFigure(chartArea_, 22, true);
    setTextColor(*caption, titleColor());
  }
  KVRPrintBox** boxes[4] = {&downloads1_, &revenues1_, &downloads2_, &revenues2_};
  KVRVortelyCamembertGraphView** charts[4] = {&prDownloadsCamembert_, &prRevenuesCamembert_, &prDownloadsCamembert2_,
                                              &prRevenuesCamembert2_};
  // The boxes keep the layout's frames; the charts stand in the chart area
  // itself, where the layout of the captions and separators puts them (the
  // first row grows into the room above its boxes).
  for (int i = 0; i < 4; ++i) {
    auto* box = new KVRPrintBox(chartArea_);
    box->setFramed(false);
    auto* chart = new KVRVortelyCamembertGraphView(chartArea_);
    chart->setDataSource(chartSources_[i].get());
    chart->setShowsDivisionSwitch(false);
    chart->setGreenBars(i == 1 || i == 3);
    *boxes[i] = box;
    *charts[i] = chart;
  }
  splitBoxDownloads_ = new KVRPrintSeparator(chartArea_);
  splitBoxRevenues_ = new KVRPrintSeparator(chartArea_);
  splitVertical_ = new KVRPrintSeparator(chartArea_);
}

void KVRPrintView::placeCaptions() {
  const bool country = hideByProduct_;
  downloads1Label_->setText(country ? KVRLocalized("%1 by country").arg(kindLabel_)
                                    : KVRLocalized("%1 by product").arg(kindLabel_));
  revenues1Label_->setText(country ? KVRLocalized("Division by country") : KVRLocalized("Division by product"));
  downloads2Label_->setText(KVRLocalized("%1 by country").arg(kindLabel_));
  revenues2Label_->setText(KVRLocalized("Division by country"));

  // Captions in the room the layout leaves for them, charts clear of the
  // separators between them.
  QWidget* charts[4] = {prDownloadsCamembert_, prRevenuesCamembert_, prDownloadsCamembert2_, prRevenuesCamembert2_};
  QLabel* captions[4] = {downloads1Label_, revenues1Label_, downloads2Label_, revenues2Label_};
  const double areaH = chartArea_->height();
  for (int i = 0; i < 4; ++i) {
    const KVROverviewChartPlace& place = chartContents_.boxes[i];
    captions[i]->setVisible(place.shown);
    charts[i]->setVisible(place.shown);
    if (!place.shown) continue;
    captions[i]->setGeometry(place.caption.toQt(areaH));
    charts[i]->setGeometry(place.chart.toQt(areaH));
  }
}

void KVRPrintView::adjustSizingForPrinting(const QSizeF& printable) {
  KVROverviewPrintSizes s;
  s.summary = frameOf(summary_);
  s.chartArea = frameOf(chartArea_);
  s.topBand = frameOf(topBand_);
  s.displaySettings = frameOf(displaySettingsBox_);
  s.trend = frameOf(trendBox_);
  const KVROverviewPrintLayout L = KVRLayoutOverviewPrint(printable.width(), printable.height(), s, hideByProduct_);

  resize(int(std::lround(L.width)), int(std::lround(L.height)));
  place(topBand_, L.topBand);
  place(displaySettingsBox_, L.displaySettings);
  place(trendBox_, L.trend);
  place(summary_, L.summary);
  place(chartArea_, L.chartArea);
  place(footer_, L.footer);

  place(downloads1_, L.downloads1);
  place(revenues1_, L.revenues1);
  for (QWidget* w : {static_cast<QWidget*>(downloads2_), static_cast<QWidget*>(revenues2_), splitBoxDownloads_,
                     splitBoxRevenues_})
    w->setVisible(L.secondRowShown);
  if (L.secondRowShown) {
    place(downloads2_, L.downloads2);
    place(revenues2_, L.revenues2);
    place(splitBoxDownloads_, L.splitDownloads);
    place(splitBoxRevenues_, L.splitRevenues);
  }
  place(splitVertical_, L.splitVertical);
  chartContents_ = KVRLayoutOverviewChartContents(L);
  placeCaptions();
  layOutContents();
  fitTitle();
}

void KVRPrintView::fitTitle() {
  // A long title is set smaller rather than cut.
  int px = 34;
  const int room = std::max(1, topBand_->width());
  while (px > 20 && QFontMetrics(printFont(px, true)).horizontalAdvance(prPrintTitle_->text()) > room) --px;
  prPrintTitle_->setFont(printFont(px, true));
}

void KVRPrintView::beginPageInRect(const QSizeF& printable) {
  // The overview is laid out again at every page.
  adjustSizingForPrinting(printable);
  KVRPrintViewBase::beginPageInRect(printable);
}

void KVRPrintView::fill(const KVROverviewDisplay& display, const KVROverviewControlState& state,
                        const KVROverviewPrintCaptions& captions) {
  // The layout's sources read this copy of the record and of the controls' state.
  *display_ = display;
  printState_ = state;
  if (auto* band = dynamic_cast<KVRPrintBand*>(prCounterView_->parentWidget()); band && band->onResize)
    band->onResize(band->size());
  prLastWeekGraph_->setShowLastDay(display.showLastDay);

  prPrintTitle_->setText(captions.printTitle);
  fitTitle();
  prGraphLabel_->setText(display.graphCaption);
  prCounterView_->setWholeUnits(display.roundCurrency);
  prCounterView_->setValue(display.counterValue, false);
  prRevenuesLabel_->setText(captions.revenuesLabel);
  prSalesDatesLabel_->setText(display.salesText);
  prRefundsLabel_->setText(display.refundsText);
  prUpgradesLabel_->setText(display.upgradesText);
  prDownloadsLabel_->setText(display.downloadsText);
  prFillRateLabel_->setText(display.fillRateText);
  preCPMLabel_->setText(display.eCPMText);
  prCTRLabel_->setText(display.ctrText);
  prRequestsLabel_->setText(display.requestsText);
  prImpressionsLabel_->setText(display.impressionsText);

  prTrendLabel_->setText(captions.trendLabel);
  // On paper the percentage goes under the difference, when there is one.
  KVREvolutionTexts evolution = display.evolution;
  if (evolution.title.isEmpty()) evolution.alternateTitle.clear();
  prEvolution_->setTexts(evolution);

  prDisplayKind_->setText(captions.displayKind);
  prDisplayLatestPeriod_->setText(captions.displayLatestPeriod);
  prDisplayRegion_->setText(captions.displayRegion);
  prDisplayView_->setText(captions.displayView);
  if (auto* band = dynamic_cast<KVRPrintBand*>(prDisplayView_->parentWidget()); band && band->onResize)
    band->onResize(band->size());

  setHideByProduct(captions.hideByProduct);
  setKindLabel(captions.kindLabel);
}

bool KVRPrintOverview(const KVROverviewDisplay& display, const KVROverviewControlState& state,
                      const KVROverviewPrintCaptions& captions, QWidget* dialogParent, QString* error) {
  KVRPrintView view;
  view.fill(display, state, captions);
  return view.print(dialogParent, error);
}

bool KVRPrintOverviewScreen(KVROverviewScreen& screen, QWidget* dialogParent, QString* error, double waitSeconds) {
  const KVROverviewPrintJob job = screen.printJobAfterRunningLoad(waitSeconds);
  return KVRPrintOverview(job.display, job.state, job.captions, dialogParent, error);
}
