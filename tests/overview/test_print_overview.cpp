// The overview report printed to PDF, portrait and landscape, and its pages
// turned into PNG.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <future>

#include "core/KVRVortelyCoreDataManager.h"
#include "graphs/KVRFittingLabel.h"
#include "graphs/KVRVortelyCamembertGraphView.h"
#include "overview/KVROverviewScreen.h"
#include "overview/KVRPrintView.h"
#include "overview/KVRVortelyResumeController.h"
#include "overview/test_presenter_sample.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRPrintInfo.h"
#include "print/print_pdf.h"

using namespace display_test;
using namespace print_test;

namespace {

KVROverviewPrintCaptions captionsFor(const KVROverviewDisplay& d, bool hideByProduct, const QString& subject) {
  KVROverviewPrintCaptions c;
  c.displayKind = QStringLiteral("Revenues");
  c.displayLatestPeriod = QStringLiteral("Month");
  c.displayRegion = QStringLiteral("All Regions");
  c.displayView = QStringLiteral("Daily, Combined");
  c.trendLabel = QStringLiteral("Monthly trend");
  c.revenuesLabel = QStringLiteral("Revenues (€)");
  c.printTitle = KVROverviewPrintTitle(subject, d.evolutionDatesText);
  c.hideByProduct = hideByProduct;
  c.kindLabel = d.chartCaption;
  return c;
}

}  // namespace

TEST(PrintOverview, PortraitAndLandscapePdf) {
  PrintScope scope;
  QTemporaryDir dir;
  dir.setAutoRemove(std::getenv("VORTELY_KEEP_PDF") == nullptr);
  Sample s;
  makeSample(s);
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(s.input);
  KVROverviewControlState state;
  state.valueTag = 4;
  state.currencySymbol = QStringLiteral("€");

  for (auto o : {QPageLayout::Portrait, QPageLayout::Landscape}) {
    const QString name = o == QPageLayout::Portrait ? QStringLiteral("overview-portrait")
                                                     : QStringLiteral("overview-landscape");
    const QString pdf = dir.filePath(name + QStringLiteral(".pdf"));
    KVRPrintInfo::setShared(pageSetUp(o, pdf));
    ASSERT_TRUE(KVRPrintOverview(d, state, captionsFor(d, false, QStringLiteral("multiple selection"))));
    ASSERT_TRUE(QFileInfo(pdf).size() > 1000);
    // Charts, arrow and texts are on the page as vectors: no picture of them.
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("/Subtype /Image")) << name.toStdString();
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("Overview Report for multiple selection, from 2/9/26 to 3/8/26")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Sales by product")));
    EXPECT_TRUE(text.contains(QStringLiteral("Division by product")));
    EXPECT_TRUE(text.contains(QStringLiteral("Monthly trend")));
    EXPECT_EQ(pagesToPng(pdf, dir.filePath(name)), 1);
  }
}

TEST(PrintOverview, OneProductPrintsCountriesOnly) {
  PrintScope scope;
  QTemporaryDir dir;
  Sample s;
  makeSample(s, 0, true);
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(s.input);
  KVROverviewControlState state;
  const QString pdf = dir.filePath(QStringLiteral("overview-one-product.pdf"));
  KVRPrintInfo::setShared(pageSetUp(QPageLayout::Portrait, pdf));

  KVRPrintView view;
  view.fill(d, state, captionsFor(d, true, QStringLiteral("Cloud Notes")));
  EXPECT_TRUE(view.hideByProduct());
  ASSERT_TRUE(view.print());
  EXPECT_TRUE(view.downloads2()->isHidden());
  EXPECT_TRUE(view.splitBoxRevenues()->isHidden());
  EXPECT_EQ(view.downloads1Label()->text(), "Sales by country");
  EXPECT_EQ(view.revenues1Label()->text(), "Division by country");
  EXPECT_FALSE(view.prDisplayRegion_->isHidden());
  // The print charts draw from the same record as the screen, fully grown.
  const KVRPartChartSnapshot snap = view.prDownloadsCamembert_->collect();
  EXPECT_FALSE(snap.loading);
  EXPECT_EQ(int(snap.parts.size()), d.downloadsPerProduct.count());
  for (const auto& part : snap.parts) EXPECT_FLOAT_EQ(part.ratio, 1.0f);
  const QString text = pdfText(pdf);
  EXPECT_TRUE(text.contains(QStringLiteral("Overview Report for Cloud Notes")));
  EXPECT_TRUE(text.contains(QStringLiteral("United States")));
  EXPECT_EQ(pagesToPng(pdf, dir.filePath(QStringLiteral("overview-one-product"))), 1);
}

TEST(PrintOverview, AdReportLeavesTheRegionOut) {
  Sample s;
  makeSample(s, 7);
  s.input.iAd = true;
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(s.input);
  KVROverviewControlState state;
  state.iAd = true;
  KVROverviewPrintCaptions c = captionsFor(d, false, QStringLiteral("multiple selection"));
  c.displayRegion.clear();
  KVRPrintView view;
  view.fill(d, state, c);
  view.adjustSizingForPrinting(QSizeF(575, 797));
  EXPECT_TRUE(view.prDisplayRegion_->isHidden());
  EXPECT_FALSE(view.prDisplayView_->isHidden());
  // The ad figures are printed, the sales figures are not.
  EXPECT_FALSE(view.prFillRateLabel_->isHidden());
  EXPECT_TRUE(view.prSalesDatesLabel_->isHidden());
}

TEST(PrintOverview, CaptionsChartsAndSeparatorsKeepApartOnEveryPage) {
  Sample s;
  makeSample(s);
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(s.input);
  for (const QPageSize::PageSizeId paper : {QPageSize::A4, QPageSize::Letter})
    for (const auto o : {QPageLayout::Portrait, QPageLayout::Landscape})
      for (const bool oneProduct : {false, true}) {
        KVRPrintInfo info = pageSetUp(o, QString());
        info.paperSize = QPageSize(paper);
        KVRPrintView view;
        view.fill(d, KVROverviewControlState{}, captionsFor(d, oneProduct, QStringLiteral("multiple selection")));
        view.adjustSizingForPrinting(info.printableSize());
        const std::string page = QPageSize(paper).name().toStdString() + (o == QPageLayout::Portrait ? " portrait" : " landscape") +
                                 (oneProduct ? " one row" : " two rows");
        QWidget* area = view.chartArea();
        std::vector<std::pair<QString, QRect>> parts;
        QLabel* captions[4] = {view.downloads1Label(), view.revenues1Label(), view.downloads2Label(), view.revenues2Label()};
        KVRVortelyCamembertGraphView* charts[4] = {view.prDownloadsCamembert_, view.prRevenuesCamembert_,
                                                   view.prDownloadsCamembert2_, view.prRevenuesCamembert2_};
        int highest = area->height();
        for (int i = 0; i < 4; ++i) {
          if (!charts[i]->isVisibleTo(&view)) continue;
          ASSERT_TRUE(captions[i]->isVisibleTo(&view)) << page;
          const QRect chart(charts[i]->mapTo(area, QPoint(0, 0)), charts[i]->size());
          parts.emplace_back(QStringLiteral("chart %1").arg(i), chart);
          parts.emplace_back(QStringLiteral("caption %1").arg(i), captions[i]->geometry());
          highest = std::min({highest, chart.top(), captions[i]->geometry().top()});
          EXPECT_GT(chart.height(), 100) << page;
          EXPECT_TRUE(static_cast<KVRFittingLabel*>(captions[i])->fitsReadably()) << page;
        }
        for (QWidget* sep : {view.splitVertical(), view.splitBoxDownloads(), view.splitBoxRevenues()})
          if (sep->isVisibleTo(&view)) parts.emplace_back(QStringLiteral("separator"), sep->geometry());
        const QRect bounds(QPoint(0, 0), area->size());
        for (size_t a = 0; a < parts.size(); ++a) {
          if (parts[a].first != "separator") {
            EXPECT_TRUE(bounds.contains(parts[a].second)) << page << " " << parts[a].first.toStdString();
          }
          for (size_t b = a + 1; b < parts.size(); ++b)
            EXPECT_FALSE(parts[a].second.intersects(parts[b].second))
                << page << ": " << parts[a].first.toStdString() << " crosses " << parts[b].first.toStdString();
        }
        // No empty band above the charts: the first captions stand at the top.
        EXPECT_LT(highest, 20) << page;
        // The summary box's figures fill it: two rows, the second in its lower half.
        QWidget* summary = view.summaryBand();
        const QRect low(view.prDownloadsLabel_->mapTo(summary, QPoint(0, 0)), view.prDownloadsLabel_->size());
        const QRect high(view.prSalesDatesLabel_->mapTo(summary, QPoint(0, 0)), view.prSalesDatesLabel_->size());
        EXPECT_GT(low.top(), high.bottom()) << page;
        EXPECT_GT(low.bottom(), summary->height() * 0.6) << page;
      }
}

TEST(PrintOverview, NineDigitAmountsPrintWholeOnEveryPage) {
  PrintScope scope;
  QTemporaryDir dir;
  dir.setAutoRemove(std::getenv("VORTELY_KEEP_PDF") == nullptr);
  Sample s;
  makeSample(s);
  scaleMoney(s, 200000.0f);
  const KVROverviewDisplay d = KVRMakeOverviewDisplay(s.input);
  ASSERT_GT(d.evolution.current, 1e9);
  KVROverviewControlState state;
  state.valueTag = 4;
  state.currencySymbol = QStringLiteral("€");
  for (const QPageSize::PageSizeId paper : {QPageSize::A4, QPageSize::Letter})
    for (const auto o : {QPageLayout::Portrait, QPageLayout::Landscape}) {
      const QString name = QStringLiteral("nine-digits-%1-%2")
                               .arg(paper == QPageSize::A4 ? "a4" : "letter", o == QPageLayout::Portrait ? "portrait" : "landscape");
      const QString pdf = dir.filePath(name + QStringLiteral(".pdf"));
      KVRPrintInfo info = pageSetUp(o, pdf);
      info.paperSize = QPageSize(paper);
      KVRPrintInfo::setShared(info);
      KVRPrintView view;
      view.fill(d, state, captionsFor(d, false, QStringLiteral("multiple selection")));
      ASSERT_TRUE(view.print());
      // The trend box: nothing over anything else, at a readable size.
      EXPECT_TRUE(view.prEvolution_->currentLayout().fits) << name.toStdString();
      for (QLabel* l : {view.prSalesDatesLabel_, view.prDownloadsLabel_})
        EXPECT_TRUE(static_cast<KVRFittingLabel*>(l)->fitsReadably()) << name.toStdString();
      // Every digit reaches the paper.
      const QString text = pdfText(pdf);
      for (const QString& figure : {d.evolution.previousText, d.evolution.currentText, d.evolution.differenceText})
        EXPECT_TRUE(text.contains(figure)) << name.toStdString() << ": " << figure.toStdString() << "\n" << text.toStdString();
      EXPECT_EQ(pagesToPng(pdf, dir.filePath(name)), 1);
    }
}

TEST(PrintOverview, PrintDuringALoadShowsOneDisplayAsAWhole) {
  forgetDashboard();
  PrintScope printScope;
  QTemporaryDir dir;
  AppScope scope;
  Store store;
  KVRStoreAccount* acc = store.account("Studio");
  std::vector<KVRVortelyManagedProduct*> products;
  for (int i = 0; i < 2; ++i)
    products.push_back(frenchSeller(store, 800 + i, i ? "Beta" : "Alpha", acc, 1.0f + float(i)));
  auto select = [&](KVRVortelyManagedProduct* p) {
    scope.app.extended = {p};
    scope.app.selected = {p};
    scope.app.accounts = {acc};
  };
  auto print = [&](KVROverviewScreen& screen, const QString& name, double wait) {
    const QString pdf = dir.filePath(name);
    KVRPrintInfo::setShared(pageSetUp(QPageLayout::Portrait, pdf));
    EXPECT_TRUE(KVRPrintOverviewScreen(screen, nullptr, nullptr, wait));
    return pdfText(pdf);
  };
  {
    KVRVortelyResumeController sales(nullptr, &scope.app);
    KVROverviewScreen screen(&sales, &scope.app);
    sales.awakeFromNib();
    select(products[0]);
    sales.selectedProductDidChange(true);
    ASSERT_TRUE(sales.waitForLoads(10));
    ASSERT_TRUE(KVRMainThread::waitUntil([&] { return sales.displayedLoadCount() > 0; }, 5.0));

    // The next load is held while it runs.
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<bool> held{false};
    sales.setLoadHookForTesting([&held, gate](uint64_t, KVRVortelyResumeController::LoadPhase phase) {
      if (phase != KVRVortelyResumeController::LoadPhase::Running) return;
      held.store(true);
      gate.wait();
    });
    select(products[1]);
    sales.selectedProductDidChange(true);
    ASSERT_TRUE(KVRMainThread::waitUntil([&] { return held.load(); }, 5.0));

    // A print that cannot wait shows the last display as a whole: its
    // title, its figures and its charts.
    const QString during = print(screen, QStringLiteral("during.pdf"), 0.2);
    EXPECT_TRUE(during.contains(QStringLiteral("Overview Report for Alpha"))) << during.toStdString();
    EXPECT_FALSE(during.contains(QStringLiteral("Beta")));
    EXPECT_TRUE(during.contains(QStringLiteral("France")));

    // A print asked while the load ends waits for it and shows the new display.
    release.set_value();
    const QString after = print(screen, QStringLiteral("after.pdf"), 10);
    EXPECT_TRUE(after.contains(QStringLiteral("Overview Report for Beta"))) << after.toStdString();
    EXPECT_TRUE(after.contains(QStringLiteral("France")));
    ASSERT_TRUE(sales.waitForLoads(10));
    sales.setLoadHookForTesting(nullptr);
  }
  KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().clear();
}
