// The financial statements' print layout: laid out again when the paper
// changes, its boxes inside the page.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <cstdlib>

#include "financial/KVRPrintViewFinancial.h"

TEST(PrintLayouts, FinancialViewLaysOutAgainWhenThePaperChanges) {
  KVRPrintViewFinancial view;
  const KVRFinancialPrintSizes original = view.originalSizes();
  EXPECT_EQ(view.layout(), 0);
  view.adjustSizingForPrinting(QSizeF(575, 797));  // A4 portrait
  EXPECT_EQ(view.layout(), 1);
  EXPECT_EQ(view.layoutPasses(), 1);
  EXPECT_TRUE(view.trendBox()->isHidden());
  view.adjustSizingForPrinting(QSizeF(575, 797));
  EXPECT_EQ(view.layoutPasses(), 1);  // same paper: nothing to do
  view.adjustSizingForPrinting(QSizeF(592, 747));  // Letter, still portrait
  EXPECT_EQ(view.layoutPasses(), 2);
  EXPECT_EQ(view.size(), QSize(1184, 1494));
  view.adjustSizingForPrinting(QSizeF(797, 575));  // landscape
  EXPECT_EQ(view.layout(), 2);
  EXPECT_EQ(view.tableView1()->height(), int(original.table3Height));
  // Back to portrait: the tables start again from their own heights.
  view.adjustSizingForPrinting(QSizeF(575, 797));
  EXPECT_EQ(view.layout(), 1);
  EXPECT_EQ(view.tableView1()->height(), int(original.table1Height));
  EXPECT_EQ(view.tableView2()->height(), int(original.table2Height));
}


TEST(PrintLayouts, FinancialPageRendersItsBoxes) {
  KVRPrintViewFinancial view;
  view.titleLabel()->setText(QStringLiteral("Financial Statements"));
  const QImage portrait = view.renderPage(QSizeF(575, 797), 1.0);
  EXPECT_EQ(portrait.size(), QSize(575, 797));
  // The boxes stand inside the page, the footer at its bottom.
  EXPECT_TRUE(view.rect().contains(view.graphView1()->geometry()));
  EXPECT_TRUE(view.rect().contains(view.tableView3()->geometry()));
  EXPECT_GT(view.footerVortelyLabel()->y(), view.tableView3()->geometry().bottom());
  const QImage landscape = view.renderPage(QSizeF(797, 575), 1.0);
  EXPECT_EQ(view.layout(), 2);
  EXPECT_LT(view.graphView1()->x(), view.tableView1()->x());
  if (const char* dir = std::getenv("VORTELY_RENDER_DIR"); dir && *dir) {
    QDir().mkpath(QString::fromLocal8Bit(dir));
    portrait.save(QString::fromLocal8Bit(dir) + QStringLiteral("/financial-portrait.png"));
    landscape.save(QString::fromLocal8Bit(dir) + QStringLiteral("/financial-landscape.png"));
  }
}
