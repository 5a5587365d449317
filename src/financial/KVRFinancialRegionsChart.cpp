#include "financial/KVRFinancialRegionsChart.h"

#include "financial/KVRFinancialTexts.h"

const KVRRegionRow* KVRFinancialRegionsChart::row(int r) const {
  return rows_ && r >= 0 && r < KVRFinancialRegionCount ? &(*rows_)[size_t(r)] : nullptr;
}

QString KVRFinancialRegionsChart::legend(int part) const {
  const KVRRegionRow* r = row(part);
  return r ? r->shortDesc : QString();
}

QColor KVRFinancialRegionsChart::color() { return QColor::fromRgbF(0.76953125f, 0.83984375f, 0.0390625f, 1.0f); }

float KVRFinancialRegionsChart::value(int part) const {
  const KVRRegionRow* all = row(0);
  const KVRRegionRow* ad = row(KVRRegionRowIAD);
  if (!all || !ad) return 0.0f;
  if (part == KVRRegionRowIAD && !accountSelected_) return 0.0f;
  if (part == -1) {
    if (all->income == 0.0f && ad->income > 0.0f) return mode_ != KVRCurrencyModePreferred ? ad->incomeLocal : ad->income;
    return all->income;
  }
  const KVRRegionRow* r = row(part);
  if (!r) return 0.0f;
  return mode_ != KVRCurrencyModePreferred && part != 0 ? r->incomeLocal : r->income;
}

float KVRFinancialRegionsChart::percent(int part) const {
  const KVRRegionRow* all = row(0);
  const KVRRegionRow* ad = row(KVRRegionRowIAD);
  const KVRRegionRow* r = row(part);
  if (!all || !ad || !r) return 0.0f;
  if (part == KVRRegionRowIAD) {
    if (!accountSelected_) return 0.0f;
    if (all->income == 0.0f && ad->income > 0.0f) return 1.0f;
  }
  return all->income > 0.0f ? r->income / all->income : 0.0f;
}

QString KVRFinancialRegionsChart::valueLabelFormat(int part) const {
  const KVRRegionRow* r = row(part);
  const QString symbol = mode_ != KVRCurrencyModePreferred && part != 0 && r ? KVRRegionCurrencySymbol(r->shortDesc)
                                                                             : preferredSymbol_;
  return QStringLiteral("%@ ") + symbol;
}

QString KVRFinancialRegionsChart::tableLabel(int tableRow) const {
  const KVRRegionRow* r = row(regionRowOfTableRow(tableRow));
  return r ? r->label : QString();
}

QString KVRFinancialRegionsChart::tableIncome(int tableRow) const {
  const KVRRegionRow* r = row(regionRowOfTableRow(tableRow));
  if (!r || r->income == 0.0f) return QStringLiteral("--");
  return KVRFinancialAmountText(r->income, preferredSymbol_);
}
