#include "print/KVRPrintLayouts.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// A size that would be negative on small paper is 0.
double nonNegative(double v) { return v > 0 ? v : 0; }

KVRLayoutRect rect(double x, double y, double w, double h) {
  return KVRLayoutRect{x, y, nonNegative(w), nonNegative(h)};
}

KVRLayoutRect footer(double w) { return rect(20, 2, 2 * w - 40, 18); }

// What every layout starts from: twice the printable size, the orientation (a
// square page counts as landscape) and the footer.
template <typename Layout>
Layout pageLayout(double w, double h) {
  Layout L;
  L.width = 2 * w;
  L.height = 2 * h;
  L.portrait = h > w;
  L.footer = footer(w);
  return L;
}

}  // namespace

QRect KVRLayoutRect::toQt(double parentHeight) const {
  const int left = int(std::lround(x));
  const int top = int(std::lround(parentHeight - y - h));
  const int right = int(std::lround(x + w));
  const int bottom = int(std::lround(parentHeight - y));
  return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

KVRLayoutRect KVRLayoutRect::fromQt(const QRect& r, double parentHeight) {
  return KVRLayoutRect{double(r.x()), parentHeight - r.y() - r.height(), double(r.width()), double(r.height())};
}

KVROverviewPrintLayout KVRLayoutOverviewPrint(double w, double h, const KVROverviewPrintSizes& s,
                                              bool hideByProduct) {
  KVROverviewPrintLayout L = pageLayout<KVROverviewPrintLayout>(w, h);
  L.secondRowShown = !hideByProduct;
  L.countryCaptions = hideByProduct;
  const double W = 2 * w - 40;
  const double s2h = s.topBand.h, dh = s.displaySettings.h;

  L.topBand = rect(20, 2 * h - 20 - s2h, W, s2h);
  if (L.portrait) {
    const double s0h = s.summary.h;
    L.displaySettings = rect(20, 40, W, dh);
    L.trend = rect(2 * w - 20 - s.trend.w, 2 * h - 60 - s2h - s0h, s.trend.w, s.trend.h);
    L.summary = rect(20, 2 * h - 60 - s2h - s0h, 2 * w - 60 - s.trend.w, s0h);
    L.chartArea = rect(20, dh + 60, W, 2 * h - 140 - dh - s2h - s0h);

    double B = L.chartArea.h - 100;
    if (!hideByProduct) B *= 0.5;
    const double C = (L.chartArea.w - 40) * 0.5;
    if (hideByProduct) {
      L.downloads1 = rect(30, -10, C, B);
      L.revenues1 = rect(30 + C, -10, C, B);
      L.splitVertical = rect(std::trunc(C) + 16, 10, 2.5, B + 75);
    } else {
      L.downloads1 = rect(30, B - 30, C, B);
      L.revenues1 = rect(30 + C, B - 30, C, B);
      L.downloads2 = rect(30, -10, C, B);
      L.revenues2 = rect(30 + C, -10, C, B);
      L.splitDownloads = rect(30, B + 1, C - 20, 2.5);
      L.splitRevenues = rect(30 + C, B + 1, C - 20, 2.5);
      L.splitVertical = rect(std::trunc(C) + 16, 10, 2.5, 2 * B + 75);
    }
    return L;
  }

  // Landscape: the trend box takes a fixed width and the summary band its height.
  const double oldSummaryH = s.summary.h;
  L.displaySettings = rect(20, 50, W, dh);
  L.trend = rect(2 * w - 20 - s.trend.w, 2 * h - 60 - s2h - oldSummaryH, 203, s.trend.h);
  L.summary = rect(20, 2 * h - 60 - s2h - oldSummaryH, 2 * w - 60 - 203, s.trend.h + 1);
  L.chartArea = rect(20, dh + 70, W, 2 * h - 150 - dh - s2h - L.summary.h);

  const double H = std::trunc(L.chartArea.h) - 100;
  double k;
  if (hideByProduct) {
    k = L.chartArea.w * 0.5;
    L.downloads1 = rect(25, -20, k, H);
    L.revenues1 = rect(20 + k, -20, k, H);
    // One row: the separator goes between the two boxes.
    L.splitVertical = rect(std::trunc(k) + 6, 10, 2.5, H + 75);
  } else {
    k = L.chartArea.w * 0.25;
    L.downloads1 = rect(25, -20, k, H);
    L.downloads2 = rect(20 + k, -20, k, H);
    L.revenues1 = rect(15 + 2 * k, -20, k, H);
    L.revenues2 = rect(10 + 3 * k, -20, k, H);
    L.splitDownloads = rect(std::trunc(k) + 17, 10, 2.5, H - 25);
    L.splitRevenues = rect(1 + 3 * k, 10, 2.5, H - 25);
    L.splitVertical = rect(std::trunc(2 * k) + 6, 10, 2.5, H + 75);
  }
  return L;
}

KVROverviewChartContents KVRLayoutOverviewChartContents(const KVROverviewPrintLayout& L) {
  constexpr double kGap = 14;          // between a chart and a separator or an edge
  constexpr double kCaption = 40;      // a caption's line
  const double areaW = L.chartArea.w, areaH = L.chartArea.h;
  const KVRLayoutRect boxes[4] = {L.downloads1, L.revenues1, L.downloads2, L.revenues2};
  const bool shown[4] = {true, true, L.secondRowShown, L.secondRowShown};

  // The separators that are drawn: thin vertical ones and thin horizontal ones.
  std::vector<KVRLayoutRect> separators = {L.splitVertical};
  if (L.secondRowShown) {
    separators.push_back(L.splitDownloads);
    separators.push_back(L.splitRevenues);
  }

  KVROverviewChartContents out;
  for (int i = 0; i < 4; ++i) {
    KVROverviewChartPlace& place = out.boxes[i];
    place.shown = shown[i];
    if (!shown[i]) continue;
    const KVRLayoutRect& b = boxes[i];
    // Within the box and the area.
    double left = std::max(b.x, kGap), right = std::min(b.x + b.w, areaW - kGap);
    double bottom = std::max(b.y, kGap), top = std::min(b.y + b.h, areaH);
    const double cx = b.x + b.w / 2, cy = b.y + b.h / 2;
    for (const KVRLayoutRect& s : separators) {
      if (s.w <= 0 || s.h <= 0) continue;
      const bool vertical = s.h > s.w;
      if (vertical) {
        if (s.y >= top || s.y + s.h <= bottom) continue;  // beside another row
        if (cx < s.x) right = std::min(right, s.x - kGap);
        else left = std::max(left, s.x + s.w + kGap);
      } else {
        if (s.x >= right || s.x + s.w <= left) continue;  // under another column
        if (cy > s.y) bottom = std::max(bottom, s.y + s.h + kGap);
        else top = std::min(top, s.y - kGap);
      }
    }
    // The caption: at the top of the area when the box leaves room above
    // it (the chart then grows up to the caption), else at the top of the
    // box, under the separator.
    bool boxAbove = false;
    for (int j = 0; j < 4; ++j) {
      const KVRLayoutRect& o = boxes[j];
      const double overlap = std::min(b.x + b.w, o.x + o.w) - std::max(b.x, o.x);
      boxAbove = boxAbove || (j != i && shown[j] && overlap > b.w / 2 && o.y + o.h / 2 > cy);
    }
    if (!boxAbove && areaH - (b.y + b.h) >= kCaption + 6) top = areaH - 4;
    place.caption = rect(left, top - kCaption, right - left, kCaption);
    top -= kCaption + 6;
    place.chart = rect(left, bottom, right - left, top - bottom);
  }
  return out;
}

KVRFinancialPrintLayout KVRLayoutFinancialPrint(double w, double h, const KVRFinancialPrintSizes& s) {
  KVRFinancialPrintLayout L = pageLayout<KVRFinancialPrintLayout>(w, h);
  const double W = 2 * w - 40;
  const double t = s.titleHeight, t1 = s.table1Height, t2 = s.table2Height, t3 = s.table3Height;
  L.title = rect(20, 2 * h - 20 - t, W, t);
  if (L.portrait) {
    L.table1 = rect(20, t2 + 36 + t3, W, t1);
    L.table2 = rect(20, t3 + 38, W, t2);
    L.table3 = rect(20, 40, W, t3);
    const double G = (2 * h - 96 - t - t1 - t2 - t3) * 0.5;
    L.graph1 = rect(20, 16 + G + t1 + t2 + t3, W, G + 17);
    L.graph2 = rect(20, 56 + t1 + t2 + t3, W, G - 17);
    return L;
  }
  L.trend = rect(w - 10 - s.trendWidth, 20, s.trendWidth, s.trendHeight);
  L.displaySettings = rect(20, 20, w - 50 - s.trendWidth, s.trendHeight);
  const double top = 2 * h - 40 - t - t3, bottom = t3 + 50;
  L.table1 = rect(w + 10, top, w - 30, t3);
  L.table2 = rect(w + 10, bottom + (top - bottom) * 0.5 - t3 * 0.5, w - 30, t3);
  L.table3 = rect(w + 10, 50, w - 30, t3);
  const double G = (2 * h - 100 - t) * 0.5;
  L.graph1 = rect(20, 2 * h - 57 - t - G, w - 30, G + 17);
  L.graph2 = rect(20, 50, w - 30, G - 17);
  return L;
}

KVRRankingsPrintLayout KVRLayoutRankingsPrint(double w, double h, const KVRRankingsPrintSizes& s) {
  KVRRankingsPrintLayout L = pageLayout<KVRRankingsPrintLayout>(w, h);
  const double W = 2 * w - 40;
  const double t = s.titleHeight;
  L.title = rect(20, 2 * h - 20 - t, W, t);
  if (L.portrait) {
    L.displaySettings = rect(20, 40, W, s.displaySettingsHeight);
    L.graph = rect(20, 2 * h - 60 - t - 2 * s.trendHeight, W, 2 * s.trendHeight);
    L.table = rect(20, 40, W, 2 * h - 120 - t - L.graph.h);
  } else {
    L.displaySettings = rect(20, 50, w - 30, s.displaySettingsHeight);
    L.graph = rect(w + 10, 50, w - 30, 2 * h - 90 - t);
    L.table = rect(20, 50, w - 30, 2 * h - 90 - t);
  }
  return L;
}
