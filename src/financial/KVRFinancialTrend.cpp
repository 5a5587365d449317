#include "financial/KVRFinancialTrend.h"

#include <algorithm>

#include "financial/KVRFinancialFigures.h"
#include "financial/KVRFinancialTexts.h"

namespace {

float slot(const KVRFinancialsByRegion& v, int row) { return row >= 0 && row < KVRFinancialRegionCount ? v[row] : 0.0f; }

float unitsTotal(const KVRFinancialMonth& m) {
  float s = 0.0f;
  for (int r = 0; r < KVRFinancialRegionCount; ++r) s += m.units[r];
  return s;
}

// One account's share of a month: its part, or the whole month when the month
// has no parts; none beyond them.
struct Part {
  const KVRFinancialsByRegion* income = nullptr;
  const KVRFinancialsByRegion* incomeLocal = nullptr;
  const KVRFinancialsByRegion* units = nullptr;
  const KVRMonthPayments* payments = nullptr;
};

Part partOf(const KVRFinancialMonth& m, size_t i) {
  if (m.parts.empty()) return i == 0 ? Part{&m.income, &m.incomeLocal, &m.units, &m.payments} : Part{};
  if (i >= m.parts.size()) return Part{};
  const KVRAccountMonth& a = m.parts[i];
  return Part{&a.income, &a.incomeLocal, &a.units, &a.payments};
}

// The trend of one account selected alone, for a region: its current figure
// returned, its previous one added to *previous. Both months' figures are
// scaled by the account's ratios of the selected month; a month with
// payments shows what was paid for the region: in the preferred currency the
// money received once reconciled (the estimate while it is not), in the local
// currency the advised amount; 0 when the month's payments are all for other
// regions.
float accountFigure(const Part& c, const Part& b, const QString& code, int mode, float* previous) {
  const int k = KVRIndexForRegionCode(code);
  const KVRPaymentRecord* d = c.payments ? c.payments->forCode(code) : nullptr;
  const float j = d ? d->jpRatioOrOne() : 1.0f;
  const float p = d ? d->paymentRatioOrOne() : 1.0f;
  const float F = mode == KVRCurrencyModeUnits ? 1.0f : j;
  const float pPrime = mode == KVRCurrencyModePreferred ? p : 1.0f;
  auto vector = [mode](const Part& part) {
    return mode == KVRCurrencyModeUnits ? part.units : mode == KVRCurrencyModeLocal ? part.incomeLocal : part.income;
  };
  float current = c.income ? slot(*vector(c), k) * F * pPrime : 0.0f;
  float before = b.income ? slot(*vector(b), k) * F : 0.0f;
  if (mode != KVRCurrencyModeUnits) {
    auto paid = [&](const KVRMonthPayments& payments, float estimate) {
      const KVRPaymentRecord* r = payments.forCode(code);
      if (!r) return 0.0f;
      if (mode == KVRCurrencyModeLocal) return r->localIncome;
      return r->isReconciled() ? r->pointedIncome : estimate;
    };
    if (c.payments && !c.payments->empty()) current = paid(*c.payments, current);
    if (b.payments && !b.payments->empty()) before = paid(*b.payments, before);
  }
  *previous += before;
  return current;
}

}  // namespace

KVRFinancialTrend KVRComputeFinancialTrend(const KVRFinancialTrendInput& in) {
  KVRFinancialTrend t;
  const KVRFinancialStatement* st = in.statement;
  const KVRFinancialValue* v = in.value;
  if (!st || !v) return t;
  const int count = int(st->months.size());
  const int mode = in.currencyMode;

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

  float current = 0.0f, previous = 0.0f;
  if (in.allSelected) {
    // All regions: the months' unit totals, or their fixed incomes.
    if (mode == KVRCurrencyModeUnits) {
      current = unitsTotal(C);
      previous = unitsTotal(B);
    } else {
      const std::vector<float>* fixed = in.fixedIncomes;
      current = fixed && m < int(fixed->size()) ? (*fixed)[size_t(m)] : 0.0f;
      previous = fixed && m - 1 < int(fixed->size()) ? (*fixed)[size_t(m - 1)] : 0.0f;
    }
  } else if (!st->accountsOnly) {
    // Products: the account's payments are not the products' money; the
    // trend compares the two months' cells as the grid shows them.
    const int k = KVRIndexForRegionCode(*v->regionCode);
    if (k > 0) {
      current = KVRFigureInMode(C.figures[size_t(k)], mode);
      previous = KVRFigureInMode(B.figures[size_t(k)], mode);
    }
  } else {
    // Store accounts: what each account alone would show, summed.
    const size_t parts = std::max<size_t>({C.parts.size(), B.parts.size(), 1});
    for (size_t i = 0; i < parts; ++i) {
      const Part c = partOf(C, i), b = partOf(B, i);
      const float x = accountFigure(c, b, *v->regionCode, mode, &previous);
      current += x;
    }
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
