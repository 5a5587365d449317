// Page geometry of the overview, financial and rankings print layouts, in
// the layouts' own doubled, bottom-left coordinates; the rankings page
// printed to PDF.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include "print/KVRPrintLayouts.h"
#include "print/KVRPrintViewRankings.h"
#include "print/print_pdf.h"

using namespace print_test;

namespace {

using R = KVRLayoutRect;

KVROverviewPrintSizes overviewSizes() {
  KVROverviewPrintSizes s;
  s.topBand = R{0, 0, 300, 100};
  s.summary = R{0, 0, 400, 200};
  s.displaySettings = R{0, 0, 300, 80};
  s.trend = R{0, 0, 150, 120};
  s.chartArea = R{0, 0, 10, 10};
  return s;
}

}  // namespace

TEST(PrintLayouts, OverviewPortraitOneRowAndTwoRows) {
  KVROverviewPrintLayout L = KVRLayoutOverviewPrint(500, 800, overviewSizes(), true);
  EXPECT_TRUE(L.portrait);
  EXPECT_EQ(L.width, 1000);
  EXPECT_EQ(L.height, 1600);
  EXPECT_EQ(L.topBand, (R{20, 1480, 960, 100}));
  EXPECT_EQ(L.displaySettings, (R{20, 40, 960, 80}));
  EXPECT_EQ(L.trend, (R{830, 1240, 150, 120}));
  EXPECT_EQ(L.summary, (R{20, 1240, 790, 200}));
  EXPECT_EQ(L.chartArea, (R{20, 140, 960, 1080}));
  EXPECT_EQ(L.footer, (R{20, 2, 960, 18}));
  // One row: each box as high as the chart area less 100.
  EXPECT_FALSE(L.secondRowShown);
  EXPECT_TRUE(L.countryCaptions);
  EXPECT_EQ(L.downloads1, (R{30, -10, 460, 980}));
  EXPECT_EQ(L.revenues1, (R{490, -10, 460, 980}));
  EXPECT_EQ(L.splitVertical, (R{476, 10, 2.5, 1055}));

  L = KVRLayoutOverviewPrint(500, 800, overviewSizes(), false);
  EXPECT_TRUE(L.secondRowShown);
  EXPECT_FALSE(L.countryCaptions);
  EXPECT_EQ(L.downloads1, (R{30, 460, 460, 490}));
  EXPECT_EQ(L.revenues1, (R{490, 460, 460, 490}));
  EXPECT_EQ(L.downloads2, (R{30, -10, 460, 490}));
  EXPECT_EQ(L.revenues2, (R{490, -10, 460, 490}));
  EXPECT_EQ(L.splitDownloads, (R{30, 491, 440, 2.5}));
  EXPECT_EQ(L.splitRevenues, (R{490, 491, 440, 2.5}));
  EXPECT_EQ(L.splitVertical, (R{476, 10, 2.5, 1055}));
}

TEST(PrintLayouts, OverviewLandscapeFourColumnsAndTwo) {
  KVROverviewPrintLayout L = KVRLayoutOverviewPrint(800, 500, overviewSizes(), false);
  EXPECT_FALSE(L.portrait);
  EXPECT_EQ(L.topBand, (R{20, 880, 1560, 100}));
  EXPECT_EQ(L.displaySettings, (R{20, 50, 1560, 80}));
  EXPECT_EQ(L.trend, (R{1430, 640, 203, 120}));
  EXPECT_EQ(L.summary, (R{20, 640, 1337, 121}));
  EXPECT_EQ(L.chartArea, (R{20, 150, 1560, 549}));
  // Downloads on the left half, revenues on the right half.
  EXPECT_EQ(L.downloads1, (R{25, -20, 390, 449}));
  EXPECT_EQ(L.downloads2, (R{410, -20, 390, 449}));
  EXPECT_EQ(L.revenues1, (R{795, -20, 390, 449}));
  EXPECT_EQ(L.revenues2, (R{1180, -20, 390, 449}));
  EXPECT_EQ(L.splitDownloads, (R{407, 10, 2.5, 424}));
  EXPECT_EQ(L.splitRevenues, (R{1171, 10, 2.5, 424}));
  EXPECT_EQ(L.splitVertical, (R{786, 10, 2.5, 524}));
  EXPECT_EQ(L.footer, (R{20, 2, 1560, 18}));

  L = KVRLayoutOverviewPrint(800, 500, overviewSizes(), true);
  EXPECT_EQ(L.downloads1, (R{25, -20, 780, 449}));
  EXPECT_EQ(L.revenues1, (R{800, -20, 780, 449}));
  EXPECT_FALSE(L.secondRowShown);

  // A square page counts as landscape.
  EXPECT_FALSE(KVRLayoutOverviewPrint(600, 600, overviewSizes(), true).portrait);
}

TEST(PrintLayouts, FinancialPortraitAndLandscape) {
  KVRFinancialPrintSizes s;
  s.titleHeight = 50;
  s.table1Height = 300;
  s.table2Height = 200;
  s.table3Height = 100;
  s.trendWidth = 150;
  s.trendHeight = 120;
  KVRFinancialPrintLayout L = KVRLayoutFinancialPrint(500, 800, s);
  EXPECT_EQ(L.title, (R{20, 1530, 960, 50}));
  EXPECT_EQ(L.table1, (R{20, 336, 960, 300}));
  EXPECT_EQ(L.table2, (R{20, 138, 960, 200}));
  EXPECT_EQ(L.table3, (R{20, 40, 960, 100}));
  EXPECT_EQ(L.graph1, (R{20, 1043, 960, 444}));
  EXPECT_EQ(L.graph2, (R{20, 656, 960, 410}));
  EXPECT_EQ(L.footer, (R{20, 2, 960, 18}));

  L = KVRLayoutFinancialPrint(800, 500, s);
  EXPECT_EQ(L.title, (R{20, 930, 1560, 50}));
  EXPECT_EQ(L.trend, (R{640, 20, 150, 120}));
  EXPECT_EQ(L.displaySettings, (R{20, 20, 600, 120}));
  EXPECT_EQ(L.table1, (R{810, 810, 770, 100}));
  EXPECT_EQ(L.table2, (R{810, 430, 770, 100}));  // centred between the other two
  EXPECT_EQ(L.table3, (R{810, 50, 770, 100}));
  EXPECT_EQ(L.graph1, (R{20, 468, 770, 442}));
  EXPECT_EQ(L.graph2, (R{20, 50, 770, 408}));

  // Small paper: the graph boxes shrink to nothing instead of going negative.
  L = KVRLayoutFinancialPrint(100, 150, s);
  EXPECT_EQ(L.graph1.h, 0);
  EXPECT_EQ(L.graph2.h, 0);
}

TEST(PrintLayouts, RankingsPortraitAndLandscape) {
  KVRRankingsPrintSizes s;
  s.titleHeight = 50;
  s.displaySettingsHeight = 80;
  s.trendHeight = 120;
  KVRRankingsPrintLayout L = KVRLayoutRankingsPrint(500, 800, s);
  EXPECT_EQ(L.title, (R{20, 1530, 960, 50}));
  EXPECT_EQ(L.displaySettings, (R{20, 40, 960, 80}));
  EXPECT_EQ(L.graph, (R{20, 1250, 960, 240}));
  EXPECT_EQ(L.table, (R{20, 40, 960, 1190}));
  EXPECT_EQ(L.footer, (R{20, 2, 960, 18}));
  L = KVRLayoutRankingsPrint(800, 500, s);
  EXPECT_EQ(L.displaySettings, (R{20, 50, 770, 80}));
  EXPECT_EQ(L.graph, (R{810, 50, 770, 860}));
  EXPECT_EQ(L.table, (R{20, 50, 770, 860}));

  KVRPrintViewRankings view;
  view.adjustSizingForPrinting(QSizeF(500, 800));
  EXPECT_TRUE(view.displaySettingsBox()->isHidden());
  EXPECT_EQ(view.size(), QSize(1000, 1600));
  // The graph box is twice the hidden trend box's height (200), placed from
  // the top left: the bottom-left frame (20, 1090, 960, 400).
  EXPECT_EQ(view.graphView()->geometry(), QRect(20, 110, 960, 400));
}

TEST(PrintLayouts, QtPlacementOfBottomLeftFrames) {
  EXPECT_EQ((R{30, -10, 460, 980}).toQt(1080), QRect(30, 110, 460, 980));
  EXPECT_EQ(R::fromQt(QRect(30, 110, 460, 980), 1080), (R{30, -10, 460, 980}));
}

TEST(PrintLayouts, RankingsLayoutPrintsAtHalfScale) {
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
