#include "financial/KVRFinancialFigures.h"

#include <cmath>
#include <cstdint>

int64_t KVRRound2Hundredths(float x) {
  if (std::isnan(x)) return 0;
  const float scaled = x * 100.0f;
  const float shifted = x >= 0.0f ? scaled + 0.5f : scaled - 0.5f;
  if (shifted >= 9.2e18f) return INT64_MAX;
  if (shifted <= -9.2e18f) return INT64_MIN;
  return static_cast<int64_t>(shifted);
}

float KVRRound2(float x) { return float(KVRRound2Hundredths(x)) / 100.0f; }

bool KVRRegionCountsInMonth(const KVRFinancialStatement& st, const KVRFinancialMonth& month, int row) {
  return st.reportIndex.find(month.date, row) != nullptr || month.payments.forRow(row) != nullptr;
}

void KVRComputeRegionFigures(KVRFinancialStatement& st) {
  for (KVRFinancialMonth& m : st.months) {
    KVRRegionFigure all;
    for (int r = 1; r < KVRFinancialRegionCount; ++r) {
      KVRRegionFigure f;
      f.counts = KVRRegionCountsInMonth(st, m, r);
      f.units = m.units[r];
      auto add = [&f, r](const KVRFinancialsByRegion& P, const KVRFinancialsByRegion& L, const KVRMonthPayments& pay) {
        const KVRPaymentRecord* d = pay.forRow(r);
        const float p = d ? d->paymentRatioOrOne() : 1.0f;
        const float j = d ? d->jpRatioOrOne() : 1.0f;
        f.preferred += KVRRound2(p * P[r] * j);
        f.local += KVRRound2(j * L[r]);
        f.localValue += j * L[r];
        f.reportLocal += KVRRound2(L[r]);
      };
      if (m.parts.empty()) {
        add(m.income, m.incomeLocal, m.payments);
        f.accounts = f.counts ? 1 : 0;
      } else {
        for (const KVRAccountMonth& part : m.parts) {
          add(part.income, part.incomeLocal, part.payments);
          f.accounts += ((part.estimateRows >> r) & 1u) || part.payments.forRow(r);
        }
      }
      if (f.counts) {
        all.preferred += f.preferred;
        all.units += f.units;
      }
      m.figures[size_t(r)] = f;
    }
    all.counts = true;
    m.figures[0] = all;
  }
}

float KVRFigureInMode(const KVRRegionFigure& figure, int mode) {
  return mode == 2 ? figure.units : mode == 1 ? figure.local : figure.preferred;
}

KVRRegionRowTable KVRYearTotals(const KVRFinancialStatement& st, int year, const KVRRegionRowTable& rows) {
  float local[KVRFinancialRegionCount] = {}, preferred[KVRFinancialRegionCount] = {};
  for (const KVRFinancialMonth& m : st.months) {
    if (m.date.year != year) continue;
    for (int r = 1; r < KVRFinancialRegionCount; ++r) {
      const KVRRegionFigure& f = m.figures[size_t(r)];
      if (!f.counts) continue;
      local[r] += f.reportLocal;
      preferred[r] += f.preferred;
      local[0] += f.reportLocal;
      preferred[0] += f.preferred;
    }
  }
  KVRRegionRowTable table;
  for (int r = 0; r < KVRFinancialRegionCount; ++r) {
    table[size_t(r)].label = rows[size_t(r)].label;
    table[size_t(r)].shortDesc = rows[size_t(r)].shortDesc;
    table[size_t(r)].income = preferred[r];
    table[size_t(r)].incomeLocal = local[r];
  }
  return table;
}

std::vector<float> KVRFixedIncomes(const KVRFinancialStatement& st) {
  std::vector<float> out;
  out.reserve(st.months.size());
  for (const KVRFinancialMonth& m : st.months) out.push_back(m.figures[0].preferred);
  return out;
}
