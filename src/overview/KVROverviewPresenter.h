#pragma once
// The overview display: one completed load plus the controller state it needs,
// turned into a plain record of everything the overview screen, its charts and
// its print layout show. Screen, charts and print read the same record, so
// they always agree.
#include <QColor>
#include <QString>
#include <vector>

#include "graphs/KVREvolutionView.h"
#include "overview/KVROverviewCurves.h"
#include "overview/KVRTotalsResult.h"
#include "platform/KVRDate.h"

class KVRVortelyManagedProduct;

// The totals of one completed load. With exactly one product the load keeps
// that product's entries; with none or several the whole results. A slot the
// load did not fill is null.
struct KVROverviewTotals {
  // Exactly one product.
  const KVRProductTotals* previousEntry = nullptr;  // previous span, totals only
  const KVRProductTotals* currentEntry = nullptr;   // current period, per day
  const KVRProductTotals* graphEntry = nullptr;     // graph range, per day (daily period)
  // None or several products.
  const KVRTotalsResult* current = nullptr;   // current period, per day
  const KVRTotalsResult* compared = nullptr;  // compared span, totals only
  const KVRTotalsResult* previous = nullptr;  // previous span, totals only
  const KVRTotalsResult* graph = nullptr;     // graph range, per day (daily period)
};

struct KVROverviewInput {
  KVROverviewTotals totals;
  int valueTag = 0;
  int selectedPeriod = 0;
  bool iAd = false;  // the iAd overview (no region prefix, ad counter)
  KVRDate startDate, endDate, graphStartDate, graphEndDate, lastDayDate, currentDayDate;
  QString regionTitle;  // title of the selected region item
  bool roundCurrency = false;
  QString currencySymbol;  // the preferred currency's symbol
  // The extended selection and the plain selection (any order; sorted by name here).
  std::vector<KVRVortelyManagedProduct*> extendedProducts;
  std::vector<KVRVortelyManagedProduct*> selectedProducts;
  // The curve shown before this display; kept when the graph range is missing.
  std::vector<KVRCurvePoint> previousPointsInCurve;
};

// The evolution: the texts the evolution view shows (arrow, badge image,
// difference and percentage, and the four value fields: on a rise, or no
// change, the previous value sits left of the badge and the current one right
// of it; on a fall the other way round), and the figures they come from.
struct KVREvolutionDisplay : KVREvolutionTexts {
  double previous = 0, current = 0;
  bool available = false;  // some product of the evolution has an account
  QString previousText, currentText, differenceText;
};

struct KVROverviewDisplay {
  int valueTag = 0;
  bool iAd = false;
  bool oneProduct = false;
  QString measureKey;        // the totals field shown
  QString chartCaption;      // what the left chart shows (camembertDownloadsLabel)
  QString graphCaption;      // graphLabel (region first in the sales overview)

  // Counter and metric labels. Sums over products are made in double
  // precision from the engine's totals; money is rounded only by its text.
  double counterValue = 0;
  bool roundCurrency = false;  // money shown in whole units
  int64_t sales = 0, refunds = 0, upgrades = 0, downloads = 0, requests = 0, impressions = 0;
  double fillRate = 0;  // a fraction (0.25 = 25 %)
  double eCPM = 0;      // money per thousand impressions
  double ctr = 0;       // a fraction
  QString salesText, refundsText, upgradesText, downloadsText, requestsText, impressionsText;
  QString fillRateText, eCPMText, ctrText, counterText;

  // Curves.
  KVRDate graphStartDate, graphEndDate;  // the graph's first and last day
  std::vector<KVRCurvePoint> pointsInCurve;
  std::vector<KVROverviewCurve> curves;
  double medianValue = KVRNoMedianValue;
  bool showLastDay = false;

  // Part charts: by product (by country with one product) and by country.
  KVRChartDivision downloadsPerProduct, revenuesPerProduct, downloadsPerCountry, revenuesPerCountry;

  KVREvolutionDisplay evolution;
  QString reportsDatesText;    // reportsDatesLabel
  QString evolutionDatesText;  // evolutionDatesLabel
};

// The whole display of one load. usedPreviousCurve, when given, tells whether
// the curve is the input's previous one (no graph range).
KVROverviewDisplay KVRMakeOverviewDisplay(const KVROverviewInput& in, bool* usedPreviousCurve = nullptr);

// A display built on the load thread, with the main-thread state it was built
// from: the screen shows it only when that state is still the same, else it
// builds the display again.
struct KVRPreparedOverviewDisplay {
  KVROverviewDisplay display;
  int valueTag = 0;
  QString regionTitle;
  std::vector<KVRVortelyManagedProduct*> selectedProducts;
  bool roundCurrency = false;
  QString currencySymbol;
  bool usedPreviousCurve = false;  // needs the curve on show: built again
};

// Helpers shared with the boxes and the print.
// x + 0.5 truncated toward zero, in 64 bits.
int64_t KVRRounded(float x);
// The measure key of a value tag ("" outside 0 to 19).
QString KVRMeasureKeyForTag(int valueTag);
// The left chart caption and the graph caption of a value tag.
QString KVRChartCaptionForTag(int valueTag);
QString KVRGraphCaptionForTag(int valueTag);
// A date in the short numbered style, "--" when there is none.
QString KVRFormatDayOrDashes(KVRDate date);
// Products sorted by name, optionally only the in-app purchases.
std::vector<KVRVortelyManagedProduct*> KVRSortedByName(std::vector<KVRVortelyManagedProduct*> products);

struct KVRLoadResults;
// The totals of a completed load, as the display reads them (pointers into
// `load`, which must outlive the use).
KVROverviewTotals KVRTotalsFromLoad(const KVRLoadResults& load);
// The input of one display from a completed load: its totals, spans, value
// and period tags and product list. The caller adds the region title, the
// plain selection, the rounding flag, the currency symbol and the previous curve.
KVROverviewInput KVROverviewInputFromLoad(const KVRLoadResults& load, bool iAd);

struct KVRStoreAccount;

// What the overview's print command puts into the print layout besides the
// display record: the captions of the screen's controls and the report title.
struct KVROverviewPrintCaptions {
  QString displayKind;          // title of the selected value item
  QString displayLatestPeriod;  // title of the selected period item
  QString displayRegion;        // title of the selected region item; empty in the iAd overview
  QString displayView;          // "%@, %@": cumulative segment label, combine segment label
  QString trendLabel;
  QString revenuesLabel;
  QString printTitle;           // "Overview Report for %@, %@"
  bool hideByProduct = false;   // the extended selection holds exactly one product
  QString kindLabel;            // what the download charts show (the chart caption)
};

// One print of the overview: the display record, the state of the controls
// the graphs read, and the captions.
struct KVROverviewPrintJob {
  KVROverviewDisplay display;
  KVROverviewControlState state;
  KVROverviewPrintCaptions captions;
};

struct KVROverviewPrintSelection {
  std::vector<KVRVortelyManagedProduct*> extendedProducts;
  std::vector<KVRStoreAccount*> accounts;
  bool isAccountSelected = false;
};

// The subject of the report title: the one selected account's name when an
// account row is selected, the one product's name when the extended
// selection holds one product, else "multiple selection".
QString KVROverviewPrintSubject(const KVROverviewPrintSelection& selection);
// "Overview Report for <subject>, <evolution dates in lower case>".
QString KVROverviewPrintTitle(const QString& subject, const QString& evolutionDatesText);
