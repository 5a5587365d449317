// The financial statements' print layout: laid out again when the paper
// changes, its boxes inside the page, long amounts whole on every page.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <cstdlib>

#include "financial/KVRFinancialPrint.h"
#include "financial/KVRFinancialRegionsChart.h"
#include "financial/KVRPrintViewFinancial.h"
#include "print/print_pdf.h"

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

TEST(PrintFinancial, NineDigitAmountsPrintWholeOnEveryPage) {
  print_test::PrintScope scope;
  QTemporaryDir dir;
  dir.setAutoRemove(std::getenv("VORTELY_KEEP_PDF") == nullptr);
  KVRFinancialPrintContent c;
  c.title = QStringLiteral("Financial Report for Pelliro Soft");
  c.incomesTitle = QStringLiteral("2026 incomes");
  c.trendLabel = QStringLiteral("Monthly trend");
  c.preferredSymbol = QStringLiteral("€");
  c.grid.captions = {QStringLiteral("Jan 2026"), QStringLiteral("Feb 2026"), QStringLiteral("Mar 2026")};
  // Every cell a different nine-digit amount, every total ten digits.
  QStringList amounts;
  for (int r = 1; r <= 18; ++r)
    for (int col = 0; col < 4; ++col) {
      KVRFinancialValue v;
      v.kind = col == 0 ? KVRFinancialCellKind::title : KVRFinancialCellKind::month;
      v.income = col == 0 ? c.yearTable[size_t(r)].label
                          : QStringLiteral("%1.%2 €").arg(987650000 + r * 100 + col).arg(col * 11, 2, 10, QChar(u'0'));
      v.hidePayment = r % 2 == 0;
      v.enablePayment = r % 4 == 1;
      if (col > 0) amounts << v.income;
      c.grid.values.push_back(v);
    }
  for (int col = 0; col < 3; ++col) {
    KVRFinancialValue v;
    v.kind = KVRFinancialCellKind::total;
    v.income = QStringLiteral("%1.99 €").arg(1987650000 + col);
    amounts << v.income;
    c.grid.totals.push_back(v);
  }
  for (size_t r = 1; r < c.yearTable.size(); ++r) c.yearTable[r].income = 100000000.0f + float(r) * 8192.0f;
  c.yearTable[0].income = 2000000000.0f;
  const KVRFinancialRegionsChart chart(&c.yearTable, c.currencyMode, false, c.preferredSymbol);
  for (int r = 0; r < KVRFinancialRegionsChart::tableRowCount(); ++r) amounts << chart.tableIncome(r);
  c.details.title = QStringLiteral("Europe, March 2026");
  c.details.income = QStringLiteral("987651803.02 €");
  c.details.incomeLocal = QStringLiteral("987651803.02 €");
  amounts << c.details.income;

  for (const QPageSize::PageSizeId paper : {QPageSize::A4, QPageSize::Letter})
    for (const auto o : {QPageLayout::Portrait, QPageLayout::Landscape}) {
      const QString name = QStringLiteral("financial-%1-%2")
                               .arg(paper == QPageSize::A4 ? "a4" : "letter", o == QPageLayout::Portrait ? "portrait" : "landscape");
      const QString pdf = dir.filePath(name + QStringLiteral(".pdf"));
      KVRPrintInfo info = print_test::pageSetUp(o, pdf);
      info.paperSize = QPageSize(paper);
      KVRPrintInfo::setShared(info);
      KVRPrintViewFinancial view;
      KVRFillFinancialPrint(view, c);
      ASSERT_TRUE(view.print());
      const QString text = print_test::pdfText(pdf);
      for (const QString& amount : amounts)
        EXPECT_TRUE(text.contains(amount)) << name.toStdString() << ": " << amount.toStdString();
      EXPECT_FALSE(text.contains(QChar(0x2026))) << name.toStdString() << "\n" << text.toStdString();
      EXPECT_EQ(print_test::pagesToPng(pdf, dir.filePath(name)), 1);
    }
}
