#include "financial/KVRFinancialPrint.h"

#include <QApplication>
#include <QObject>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "financial/KVRFinancialRegionsChart.h"
#include "financial/KVRFinancialWidgets.h"
#include "financial/KVRPrintViewFinancial.h"
#include "graphs/KVRVortelyBarGraphView.h"
#include "platform/KVRLocalization.h"
#include "print/KVRPrintViewBase.h"

namespace {

const QColor kText(0x1f, 0x25, 0x2d);
const QColor kSecondary(0x6b, 0x74, 0x80);

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

// --- Pieces of the page ---------------------------------------------------------

void KVRFinancialGridPrint::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  // The chart's box covers the foot of this one: the grid keeps clear of it.
  const double w = width(), h = std::max(0, height() - 30);
  const int rows = 18 + 2;  // captions, 18 regions, totals
  const double rowH = h / rows;
  const double scale = std::max(0.5, rowH / 17.0);
  const double titleW = w * 0.22, colW = (w - titleW) / 3.0;
  p.setPen(kSecondary);
  for (int c = 0; c < 3; ++c)
    KVRDrawFittedText(p, QRectF(titleW + c * colW, 0, colW - 6 * scale, rowH), Qt::AlignRight | Qt::AlignVCenter,
                   grid_.captions[size_t(c)], KVRPixelFont(rowH * 0.55, true));
  for (int r = 1; r <= 18; ++r) {
    const double y = r * rowH;
    for (int c = 0; c < 4; ++c) {
      const KVRFinancialValue* v = grid_.value(KVRFinancialGrid::indexOf(r, c));
      if (!v) continue;
      const QRectF cell = c == 0 ? QRectF(0, y, titleW, rowH) : QRectF(titleW + (c - 1) * colW, y, colW, rowH);
      KVRPaintFinancialCell(p, cell, *v, false, scale);
    }
  }
  const double y = 19 * rowH;
  KVRPaintFinancialCell(p, QRectF(0, y, titleW, rowH), grid_.allRegionsTitle(), false, scale);
  for (int c = 0; c < 3; ++c)
    if (const KVRFinancialValue* v = grid_.total(c)) KVRPaintFinancialCell(p, QRectF(titleW + c * colW, y, colW, rowH), *v, false, scale);
}

void KVRPrintTextBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing);
  const double lineH = std::min(34.0, height() / double(std::max<qsizetype>(lines_.size() + 1, 4)));
  p.setPen(kText);
  KVRDrawFittedText(p, QRectF(0, 0, width(), lineH), Qt::AlignLeft | Qt::AlignVCenter, title_, KVRPixelFont(lineH * 0.72, true));
  double y = lineH * 1.1;
  for (const QString& line : lines_) {
    p.setPen(kText);
    KVRDrawFittedText(p, QRectF(0, y, width(), lineH), Qt::AlignLeft | Qt::AlignVCenter, line, KVRPixelFont(lineH * 0.62));
    y += lineH;
  }
}

void KVRRegionsPrint::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing);
  const int perColumn = int((rows_.size() + 1) / 2);
  const double lineH = std::min(30.0, height() / double(perColumn + 1));
  p.setPen(kText);
  KVRDrawFittedText(p, QRectF(0, 0, width(), lineH), Qt::AlignLeft | Qt::AlignVCenter, title_, KVRPixelFont(lineH * 0.72, true));
  const double colW = width() / 2.0;
  for (size_t i = 0; i < rows_.size(); ++i) {
    const int col = int(i) / perColumn, row = int(i) % perColumn;
    const QRectF line(col * colW, lineH * (1.1 + row), colW - 16, lineH);
    const bool last = i + 1 == rows_.size();
    p.setPen(kText);
    KVRDrawFittedText(p, line, Qt::AlignLeft | Qt::AlignVCenter, rows_[i].first, KVRPixelFont(lineH * 0.6, last));
    KVRDrawFittedText(p, line, Qt::AlignRight | Qt::AlignVCenter, rows_[i].second, KVRPixelFont(lineH * 0.6, last));
  }
}
