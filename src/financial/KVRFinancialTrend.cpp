#include "financial/KVRFinancialTrend.h"

#include "financial/KVRFinancialTexts.h"

namespace {

float slot(const KVRFinancialsByRegion& v, int row) { return row >= 0 && row < KVRFinancialRegionCount ? v[row] : 0.0f; }

float unitsTotal(const KVRFinancialMonth& m) {
  float s = 0.0f;
  for (int r = 0; r < KVRFinancialRegionCount; ++r) s += m.units[r];
  return s;
}

}  // namespace

KVRFinancialTrend KVRComputeFinancialTrend(const KVRFinancialTrendInput& in) {
  KVRFinancialTrend t;
  const KVRFinancialStatement* st = in.statement;
  const KVRFinancialValue* v = in.value;
  if (!st || !v) return t;
  const int count = int(st->months.size());
  const int mode = in.currencyMode;

  const KVRPaymentRecord* d = v->paymentDict.get();
  const float j = d ? d->jpRatioOrOne() : 1.0f;
  const float p = d ? d->paymentRatioOrOne() : 1.0f;
  const float F = mode == KVRCurrencyModeUnits ? 1.0f : j;

  // The month pair.
  int m = -1;
  if (in.allSelected) {
    if (!in.selectedTotal) return t;
    m = in.selectedMonth + *in.selectedTotal;
  } else {
    if (!v->monthDate || !v->regionCode) return t;
    for (int c = 0; c < 3; ++c) {
      const int i = in.selectedMonth + c;
      if (i >= 0 && i < count && st->months[size_t(i)].date == *v->monthDate) {
        m = i;
        break;
      }
    }
    if (m < 0) return t;
  }
  if (m <= 0 || m >= count) return t;
  const KVRFinancialMonth& C = st->months[size_t(m)];
  const KVRFinancialMonth& B = st->months[size_t(m - 1)];

  // Base figures.
  auto vector = [&](const KVRFinancialMonth& month) -> const KVRFinancialsByRegion& {
    if (mode == KVRCurrencyModeUnits) return month.units;
    if (mode == KVRCurrencyModeLocal && !in.allSelected) return month.incomeLocal;
    return month.income;
  };
  const int k = in.allSelected ? 0 : KVRIndexForRegionCode(*v->regionCode);
  const float pPrime = mode == KVRCurrencyModePreferred ? p : 1.0f;
  float current = slot(vector(C), k) * F * pPrime;
  float previous = slot(vector(B), k) * F;

  // Overrides.
  if (in.allSelected) {
    if (mode == KVRCurrencyModeUnits) {
      current = unitsTotal(C);
      previous = unitsTotal(B);
    } else {
      const std::vector<float>* fixed = in.fixedIncomes;
      current = fixed && m < int(fixed->size()) ? (*fixed)[size_t(m)] : 0.0f;
      previous = fixed && m - 1 < int(fixed->size()) ? (*fixed)[size_t(m - 1)] : 0.0f;
    }
  } else if (mode != KVRCurrencyModeUnits) {
    const QString& code = *v->regionCode;
    // A month with payments shows what was paid for the region: the money
    // received once reconciled, the advised amount in local currency. A
    // payment not reconciled yet keeps the estimate in the preferred
    // currency (it is what the grid shows for the cell), never 0. A month
    // whose payments are all for other regions reads 0.
    auto paid = [&](const KVRFinancialMonth& month, float estimate) {
      const KVRPaymentRecord* r = month.payments.forCode(code);
      if (!r) return 0.0f;
      if (mode == KVRCurrencyModeLocal) return r->localIncome;
      return r->isReconciled() ? r->pointedIncome : estimate;
    };
    if (!C.payments.empty()) current = paid(C, current);
    if (!B.payments.empty()) previous = paid(B, previous);
  }
  t.current = current;
  t.previous = previous;

  // Texts.
  QString symbol;
  if (mode != KVRCurrencyModeUnits)
    symbol = mode == KVRCurrencyModeLocal && !in.allSelected ? KVRRegionCurrencySymbol(*v->regionCode)
                                                             : in.preferredSymbol;
  auto figure = [&](float x) {
    return mode == KVRCurrencyModeUnits ? KVRFinancialDecimalText(x) : KVRFinancialAmountText(x, symbol);
  };
  const QString currentText = figure(current), previousText = figure(previous);

  if (current == previous) {
    t.state = KVRFinancialTrend::State::steady;
    t.arrowImage = QStringLiteral("noev_arrow");
    t.badgeImage = QStringLiteral("evolution_blue");
    t.lastDayValueLeft = previousText;
    t.currentDayValueRight = currentText;
    return t;
  }
  const bool rise = current > previous;
  const float diff = rise ? current - previous : previous - current;
  const QString sign = rise ? QStringLiteral("+ ") : QStringLiteral("- ");
  t.state = rise ? KVRFinancialTrend::State::rise : KVRFinancialTrend::State::fall;
  t.arrowImage = rise ? QStringLiteral("up_arrow") : QStringLiteral("down_arrow");
  t.badgeImage = rise ? QStringLiteral("evolution_green") : QStringLiteral("evolution_red");
  t.title = sign + figure(diff);
  t.alternateTitle = previous > 0 ? sign + KVRFinancialPercentText(double(diff * 100.0f / previous)) + QStringLiteral(" %")
                                  : QStringLiteral("--");
  if (rise) {
    t.currentDayValueLeft = previousText;
    t.currentDayValueRight = currentText;
  } else {
    t.lastDayValueLeft = previousText;
    t.lastDayValueRight = currentText;
  }
  return t;
}
