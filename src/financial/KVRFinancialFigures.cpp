#include "financial/KVRFinancialFigures.h"

#include <cmath>
#include <cstdint>

float KVRRound2(float x) {
  if (std::isnan(x)) return 0.0f;
  const float scaled = x * 100.0f;
  const float shifted = x >= 0.0f ? scaled + 0.5f : scaled - 0.5f;
  int64_t t;
  if (shifted >= 9.2e18f) t = INT64_MAX;
  else if (shifted <= -9.2e18f) t = INT64_MIN;
  else t = static_cast<int64_t>(shifted);
  return float(t) / 100.0f;
}

bool KVRRegionCountsInMonth(const KVRFinancialStatement& st, const KVRFinancialMonth& month, int row) {
  return st.reportIndex.find(month.date, row) != nullptr || month.payments.forRow(row) != nullptr;
}

float KVRRoundedRegionAmount(const KVRFinancialMonth& month, int row, float amount) {
  const KVRPaymentRecord* p = month.payments.forRow(row);
  const float ratio = p ? p->paymentRatioOrOne() : 1.0f;
  const float jp = p ? p->jpRatioOrOne() : 1.0f;
  return KVRRound2(ratio * amount * jp);
}

KVRRegionRowTable KVRYearTotals(const KVRFinancialStatement& st, int year, const KVRRegionRowTable& rows) {
  float local[KVRFinancialRegionCount] = {}, preferred[KVRFinancialRegionCount] = {};
  for (const KVRFinancialMonth& m : st.months) {
    if (m.date.year != year) continue;
    for (int r = 1; r < KVRFinancialRegionCount; ++r) {
      if (!KVRRegionCountsInMonth(st, m, r)) continue;
      const float x = KVRRound2(m.incomeLocal[r]);
      const float y = KVRRoundedRegionAmount(m, r, m.income[r]);
      local[r] += x;
      preferred[r] += y;
      local[0] += x;
      preferred[0] += y;
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
  for (const KVRFinancialMonth& m : st.months) {
    float sum = 0.0f;
    for (int r = 1; r < KVRFinancialRegionCount; ++r)
      if (KVRRegionCountsInMonth(st, m, r)) sum += KVRRoundedRegionAmount(m, r, m.income[r]);
    out.push_back(sum);
  }
  return out;
}
