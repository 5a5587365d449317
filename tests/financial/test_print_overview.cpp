// The overview report printed to PDF, portrait and landscape, and its pages
// turned into PNG.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "financial/KVRPrintView.h"
#include "financial/KVRPrintViewRankings.h"
#include "graphs/KVRVortelyCamembertGraphView.h"
#include "overview/test_presenter_sample.h"
#include "platform/KVRPrintInfo.h"

using namespace display_test;

namespace {

// The print command's page set-up: 10-point margins, 35 on the right of a
// landscape page or at the bottom of a portrait one.
KVRPrintInfo pageSetUp(QPageLayout::Orientation o, const QString& pdf) {
  KVRPrintInfo info;
  info.paperSize = QPageSize(QPageSize::A4);
  info.orientation = o;
  info.margins = o == QPageLayout::Landscape ? QMarginsF(10, 10, 35, 10) : QMarginsF(10, 10, 10, 35);
  info.horizontalPaginationFit = info.horizontallyCentered = info.verticallyCentered = true;
  info.outputPdfPath = pdf;
  return info;
}

QString pdfText(const QString& pdf) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  p.waitForFinished(30000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

// Turns the pages into PNG; copies them to $VORTELY_RENDER_DIR when set.
int pagesToPng(const QString& pdf, const QString& prefix) {
  QProcess p;
  p.start(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("60"), pdf, prefix});
  p.waitForFinished(30000);
  const QFileInfo info(prefix);
  const QStringList pages =
      QDir(info.absolutePath()).entryList({info.fileName() + QStringLiteral("*.png")}, QDir::Files, QDir::Name);
  if (const char* dir = std::getenv("VORTELY_RENDER_DIR"); dir && *dir) {
    QDir().mkpath(QString::fromLocal8Bit(dir));
    for (const QString& page : pages)
      QFile::copy(info.absolutePath() + u'/' + page, QString::fromLocal8Bit(dir) + u'/' + page);
  }
  return int(pages.size());
}

struct PrintScope {
  KVRPrintInfo saved = KVRPrintInfo::shared();
  ~PrintScope() { KVRPrintInfo::setShared(saved); }
};

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

TEST(PrintOverview, RankingsLayoutPrintsAtHalfScale) {
  PrintScope scope;
  QTemporaryDir dir;
  const QString pdf = dir.filePath(QStringLiteral("rankings.pdf"));
  KVRPrintInfo::setShared(pageSetUp(QPageLayout::Landscape, pdf));
  KVRPrintViewRankings view;
  view.titleLabel()->setText(QStringLiteral("Rankings"));
  ASSERT_TRUE(view.print());
  const QSizeF printable = KVRPrintInfo::shared().printableSize();
  EXPECT_EQ(view.size(), QSize(qRound(printable.width() * 2), qRound(printable.height() * 2)));
  EXPECT_TRUE(pdfText(pdf).contains(QStringLiteral("Rankings")));
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
