#pragma once
// Page geometry of the three print layouts (overview, financial statements,
// rankings). Everything here is a pure function of the printable size and of
// the boxes' sizes before the layout.
//
// Coordinates are the layouts' own: origin at the bottom left, y upwards, and
// doubled, because every layout is printed at half scale (a layout printed on
// a printable area of w x h points is 2w x 2h units; a margin of 20 units is
// 10 points on paper). KVRLayoutRect::toQt turns a frame into Qt's top-left
// coordinates only when a widget is placed.
#include <QRect>
#include <QSizeF>

struct KVRLayoutRect {
  double x = 0, y = 0, w = 0, h = 0;

  bool operator==(const KVRLayoutRect&) const = default;
  // The frame in the top-left coordinates of a parent `parentHeight` high.
  QRect toQt(double parentHeight) const;
  static KVRLayoutRect fromQt(const QRect& r, double parentHeight);
};

// --- Overview report -----------------------------------------------------------
// S0 the summary band (left of the trend box), S1 the chart area, S2 the top
// band, D the display settings box, T the trend box: their frames before the
// layout. Only the sizes are read, and S1's width after its own placement.
struct KVROverviewPrintSizes {
  KVRLayoutRect summary;          // S0
  KVRLayoutRect chartArea;        // S1
  KVRLayoutRect topBand;          // S2
  KVRLayoutRect displaySettings;  // D
  KVRLayoutRect trend;            // T
};

struct KVROverviewPrintLayout {
  double width = 0, height = 0;  // the layout's bounds (2w x 2h)
  bool portrait = true;
  KVRLayoutRect topBand, displaySettings, trend, summary, chartArea, footer;
  // Inside the chart area (its own coordinates).
  KVRLayoutRect downloads1, revenues1, downloads2, revenues2;
  KVRLayoutRect splitDownloads, splitRevenues, splitVertical;
  bool secondRowShown = false;  // downloads2, revenues2 and the two row separators
  bool countryCaptions = true;  // "by country" captions (else "by product")
};

// Lays the overview report out on a printable area of w x h points. With
// hideByProduct one row of chart boxes (one product: its countries); without,
// a row by product and a row by country.
KVROverviewPrintLayout KVRLayoutOverviewPrint(double w, double h, const KVROverviewPrintSizes& sizes,
                                              bool hideByProduct);

// What goes inside the chart area (its own coordinates): for each chart box,
// its chart and its caption. The charts stay clear of the separators (which
// run between them) and of the area's edges; the first row's captions stand in
// the room the layout leaves above the boxes, the second row's at the top of
// their boxes, under the separator.
struct KVROverviewChartPlace {
  bool shown = false;
  KVRLayoutRect chart, caption;
};
struct KVROverviewChartContents {
  // downloads1, revenues1, downloads2, revenues2
  KVROverviewChartPlace boxes[4];
};
KVROverviewChartContents KVRLayoutOverviewChartContents(const KVROverviewPrintLayout& layout);

// --- Financial statements --------------------------------------------------------
struct KVRFinancialPrintSizes {
  double titleHeight = 0;                     // t
  double table1Height = 0, table2Height = 0;  // t1, t2
  double table3Height = 0;                    // t3
  double trendWidth = 0, trendHeight = 0;     // T
};

struct KVRFinancialPrintLayout {
  double width = 0, height = 0;
  bool portrait = true;
  KVRLayoutRect title, table1, table2, table3, graph1, graph2, trend, displaySettings, footer;
};

// Always computed from the boxes' original sizes, so a layout never depends on
// the one before it. A height that would be negative on small paper is 0.
KVRFinancialPrintLayout KVRLayoutFinancialPrint(double w, double h, const KVRFinancialPrintSizes& sizes);

// --- Rankings ----------------------------------------------------------------------
struct KVRRankingsPrintSizes {
  double titleHeight = 0;            // t
  double displaySettingsHeight = 0;  // D.h
  double trendHeight = 0;            // T.h
};

struct KVRRankingsPrintLayout {
  double width = 0, height = 0;
  bool portrait = true;
  KVRLayoutRect title, displaySettings, graph, table, footer;
};

KVRRankingsPrintLayout KVRLayoutRankingsPrint(double w, double h, const KVRRankingsPrintSizes& sizes);
