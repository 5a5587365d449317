#include "financial/KVRFinancialGrid.h"

#include <cmath>
#include <cstdint>

#include "financial/KVRFinancialTexts.h"

namespace {

constexpr int kRows = KVRFinancialRegionCount;

QColor badgeOf(const KVRPaymentRecord* d) {
  if (!d) return KVRFinancialGreyColor();
  const bool reconciled = d->paymentRatio.has_value();
  const bool payment = d->isPaymentForm();
  if (reconciled) return QColor::fromRgbF(0.76953125f, 0.83984375f, 0.0390625f, payment ? 0.9f : 0.5f);
  if (payment) return QColor::fromRgbF(0.92578125f, 0.66796875f, 0.1015625f, 1.0f);
  return QColor::fromRgbF(0.9f, 0.7f, 0.3f, 0.4f);
}

KVRFinancialValue titleCell(const QString& label) {
  KVRFinancialValue v;
  v.kind = KVRFinancialCellKind::title;
  v.income = v.incomePref = v.incomeLocal = label;
  v.badgeColor = KVRFinancialRedColor();
  v.month = QStringLiteral("--");
  v.region = label;
  return v;
}

KVRFinancialValue emptyCell(const QString& label) {
  KVRFinancialValue v;
  v.kind = KVRFinancialCellKind::empty;
  v.income = v.incomePref = v.incomeLocal = QStringLiteral("--");
  v.badgeColor = KVRFinancialGreyColor();
  v.month = QStringLiteral("--");
  v.region = label;
  return v;
}

// The integer part of N + U, saturated.
int64_t addUnits(int64_t n, float u) {
  const double s = double(float(double(n)) + u);
  if (std::isnan(s)) return n;
  if (s >= 9.2e18) return INT64_MAX;
  if (s <= -9.2e18) return INT64_MIN;
  return static_cast<int64_t>(s);
}

}  // namespace

QColor KVRFinancialGreyColor() { return QColor::fromRgbF(0.85f, 0.85f, 0.85f, 1.0f); }
QColor KVRFinancialRedColor() { return QColor(Qt::red); }

const KVRFinancialValue* KVRFinancialGrid::value(int index) const {
  return index >= 0 && index < int(values.size()) ? &values[size_t(index)] : nullptr;
}

const KVRFinancialValue* KVRFinancialGrid::total(int index) const {
  return index >= 0 && index < int(totals.size()) ? &totals[size_t(index)] : nullptr;
}

KVRFinancialValue KVRFinancialGrid::allRegionsTitle() const {
  KVRFinancialValue v;
  v.kind = KVRFinancialCellKind::title;
  v.income = v.region = totals.empty() ? KVRFinancialRegionLabel(0) : totals.front().region;
  v.badgeColor = KVRFinancialGreyColor();
  return v;
}

KVRFinancialGrid KVRBuildFinancialGrid(const KVRFinancialGridInput& in) {
  KVRFinancialGrid grid;
  const KVRRegionRowTable fallbackRows = in.rows ? KVRRegionRowTable{} : KVRMakeRegionRowTable();
  const KVRRegionRowTable& rows = in.rows ? *in.rows : fallbackRows;
  const KVRFinancialStatement* st = in.statement;
  const int count = st ? int(st->months.size()) : 0;

  // The window's months and their captions.
  const KVRFinancialMonth* months[3] = {};
  for (int c = 0; c < 3; ++c) {
    const int64_t m = int64_t(in.selectedMonth) + c;
    if (m >= 0 && m < count) {
      months[c] = &st->months[size_t(m)];
      grid.captions[size_t(c)] = KVRMonthCaption(months[c]->date);
    } else {
      grid.captions[size_t(c)] = QStringLiteral("--");
    }
  }

  // Region rows.
  grid.values.reserve(size_t(kRows - 1) * KVRFinancialGrid::kColumns);
  for (int r = 1; r < kRows; ++r) {
    const QString& code = rows[size_t(r)].shortDesc;
    const QString& label = rows[size_t(r)].label;
    const QString localSymbol = KVRRegionCurrencySymbol(code);
    grid.values.push_back(titleCell(label));
    for (int c = 0; c < 3; ++c) {
      const KVRFinancialMonth* m = months[c];
      if (!m) {
        grid.values.push_back(emptyCell(label));
        continue;
      }
      const float U = m->units[r];
      const KVRReport* report = st->financialReportForMonth(m->date, code);
      const KVRPaymentRecordRef d = m->payments.sharedForCode(code);
      KVRFinancialValue v;
      v.month = grid.captions[size_t(c)];
      v.region = label;
      v.monthDate = m->date;
      v.regionCode = code;
      const bool adRowHidden = r == KVRRegionRowIAD && (in.productsSelected || !in.accountSelected);
      if ((!report && !d) || adRowHidden) {
        v.kind = KVRFinancialCellKind::noData;
        v.income = v.incomePref = v.incomeLocal = QStringLiteral("--");
        v.incomeLocalValue = 0.0f;
        v.badgeColor = KVRFinancialGreyColor();
        v.status = KVRFinancialValue::ReportMissing;
        grid.values.push_back(std::move(v));
        continue;
      }
      v.kind = KVRFinancialCellKind::month;
      // The region's figures of the month, as the totals, the year tables and
      // the trend read them.
      const KVRRegionFigure& f = m->figures[size_t(r)];
      v.incomePref = KVRFinancialAmountText(f.preferred, in.preferredSymbol);
      v.incomeLocal = KVRFinancialAmountText(f.local, localSymbol);
      v.units = KVRFinancialUnitsText(U);
      v.incomeLocalValue = f.localValue;
      v.severalAccounts = f.accounts > 1;
      if (d) {
        v.paymentDict = d;
        v.hidePayment = false;
        v.enablePayment = d->isPaymentForm();
        if (d->paymentMonth) v.paymentMonth = KVRMonthCaption(*d->paymentMonth);
      }
      v.badgeColor = badgeOf(d.get());
      v.income = in.currencyMode == KVRCurrencyModeUnits   ? *v.units
                 : in.currencyMode == KVRCurrencyModeLocal ? v.incomeLocal
                                                           : v.incomePref;
      grid.values.push_back(std::move(v));
    }
  }

  // Totals: always in the preferred currency, after the ratios, each region
  // rounded to hundredths; in units mode the units.
  const QString allLabel = rows[0].label;
  for (int c = 0; c < 3; ++c) {
    const KVRFinancialMonth* m = months[c];
    if (!m) {
      grid.totals.push_back(emptyCell(allLabel));
      continue;
    }
    const float money = m->figures[0].preferred, units = m->figures[0].units;
    int64_t n = 0;
    for (int r = 1; r < kRows; ++r)
      if (m->figures[size_t(r)].counts) n = addUnits(n, m->units[r]);
    KVRFinancialValue v;
    v.kind = KVRFinancialCellKind::total;
    v.income = in.currencyMode == KVRCurrencyModeUnits ? KVRFinancialDecimalText(units)
                                                        : KVRFinancialAmountText(money, in.preferredSymbol);
    v.month = grid.captions[size_t(c)];
    v.region = allLabel;
    v.units = KVRFinancialUnitsText(double(n));
    v.totalAmount = money;
    v.incomePref = v.incomeLocal = KVRFinancialAmountText(money, in.preferredSymbol);
    grid.totals.push_back(std::move(v));
  }
  return grid;
}
