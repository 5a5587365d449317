#include "financial/KVRFinancialPrint.h"

#include <QObject>
#include <QVBoxLayout>

#include "financial/KVRFinancialRegionsChart.h"
#include "financial/KVRFinancialWidgets.h"
#include "financial/KVRPrintViewFinancial.h"
#include "graphs/KVRVortelyBarGraphView.h"
#include "platform/KVRLocalization.h"

namespace {

// The bar chart's data source on the printed page: the year totals it was
// given, fully grown.
class PrintChartSource : public QObject, public KVRVortelyBarGraphDataSource {
 public:
  explicit PrintChartSource(QObject* parent) : QObject(parent) {}
  void set(const KVRFinancialPrintContent& c) {
    rows_ = c.yearTable;
    chart_ = KVRFinancialRegionsChart(&rows_, c.currencyMode, c.accountSelected, c.preferredSymbol);
  }
  const KVRFinancialRegionsChart& chart() const { return chart_; }
  int numberOfPartsForCamembertGraph(KVRVortelyBarGraphView*) override { return KVRFinancialRegionsChart::partCount(); }
  QString legendForPartAtIndex(KVRVortelyBarGraphView*, int part) override { return chart_.legend(part); }
  QColor colorForPartAtIndex(KVRVortelyBarGraphView*, int) override { return KVRFinancialRegionsChart::color(); }
  double valueForPartAtIndex(KVRVortelyBarGraphView*, int part) override { return chart_.value(part); }
  float percentForPartAtIndex(KVRVortelyBarGraphView*, int part) override { return chart_.percent(part); }
  float ratioForAnimationAtIndex(KVRVortelyBarGraphView*, int) override { return 1.0f; }
  std::optional<QString> valueLabelFormatAtIndex(KVRVortelyBarGraphView*, int part) override {
    return chart_.valueLabelFormat(part);
  }

 private:
  KVRRegionRowTable rows_;
  KVRFinancialRegionsChart chart_;
};

template <typename W>
W* contentOf(KVRPrintBox* box) {
  if (auto* w = dynamic_cast<W*>(box->content())) return w;
  auto* w = new W;
  box->setContent(w);
  w->show();
  return w;
}

}  // namespace

void KVRFillFinancialPrint(KVRPrintViewFinancial& view, const KVRFinancialPrintContent& c) {
  // The boxes' sizes before the layout: the grid and the chart take the room
  // the three text boxes leave on a portrait page; on a landscape one the
  // three boxes are all as high as the last.
  KVRFinancialPrintSizes sizes = view.originalSizes();
  if (sizes.table1Height != 130 || sizes.table3Height != 220) {
    sizes.titleHeight = 50;
    sizes.table1Height = sizes.table2Height = 130;
    sizes.table3Height = 220;
    view.setOriginalSizes(sizes);
  }
  view.titleLabel()->setText(c.title);

  contentOf<KVRFinancialGridPrint>(view.graphView1())->setGrid(c.grid);

  // The chart under its title.
  auto* titled = dynamic_cast<KVRPrintTextBox*>(view.barView()->parentWidget());
  if (!titled) {
    titled = new KVRPrintTextBox;
    auto* column = new QVBoxLayout(titled);
    column->setContentsMargins(0, 40, 0, 0);
    column->addWidget(view.barView());
    view.graphView2()->setContent(titled);
    titled->show();
    view.barView()->show();
  }
  titled->setLines(c.incomesTitle, {});
  auto* source = dynamic_cast<PrintChartSource*>(
      view.findChild<QObject*>(QStringLiteral("financialPrintChartSource"), Qt::FindDirectChildrenOnly));
  if (!source) {
    source = new PrintChartSource(&view);
    source->setObjectName(QStringLiteral("financialPrintChartSource"));
  }
  source->set(c);
  view.barView()->setDataSource(source);
  view.barView()->update();

  // The selected cell.
  QStringList lines;
  if (!c.details.title.isEmpty()) {
    if (!c.details.statusHidden && !c.details.status.isEmpty()) lines << c.details.status;
    lines << KVRLocalized("Estimated income: %1").arg(c.details.income);
    lines << KVRLocalized("In local currency: %1").arg(c.details.incomeLocal);
    for (const QString& l : c.details.label.split(u'\n', Qt::SkipEmptyParts)) lines << l;
  }
  contentOf<KVRPrintTextBox>(view.tableView1())
      ->setLines(c.details.title.isEmpty() ? KVRLocalized("No month selected") : c.details.title, lines);

  // Its trend.
  auto* trend = dynamic_cast<KVRFinancialTrendView*>(view.tableView2()->content());
  if (!trend) {
    trend = new KVRFinancialTrendView(true);
    view.tableView2()->setContent(trend);
    trend->show();
  }
  trend->setCaption(c.trendLabel);
  trend->showTrend(c.trend);

  // The year totals.
  const KVRFinancialRegionsChart& chart = source->chart();
  std::vector<std::pair<QString, QString>> rows;
  for (int r = 0; r < KVRFinancialRegionsChart::tableRowCount(); ++r) rows.emplace_back(chart.tableLabel(r), chart.tableIncome(r));
  contentOf<KVRRegionsPrint>(view.tableView3())->setRows(c.incomesTitle, rows);
}
