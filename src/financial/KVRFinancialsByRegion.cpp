#include "financial/KVRFinancialsByRegion.h"

#include "platform/KVRLocalization.h"

const std::array<KVRFinancialRegion, KVRFinancialRegionCount>& KVRFinancialRegions() {
  static const std::array<KVRFinancialRegion, KVRFinancialRegionCount> rows = {{
      {"", "All Region", "All Regions"},
      {"AU", "AustraliaR", "Australia"},
      {"CA", "CanadaR", "Canada"},
      {"CH", "SwitzerlandR", "Switzerland"},
      {"CN", "ChinaR", "China"},
      {"DK", "Denmark", "Denmark"},
      {"EU", "Europe", "Europe"},
      {"GB", "Great BritainR", "Great Britain"},
      {"HK", "Hong Kong", "Hong Kong"},
      {"JP", "JapanR", "Japan"},
      {"MX", "MexicoR", "Mexico"},
      {"NO", "NorwayR", "Norway"},
      {"NZ", "New ZealandR", "New Zealand"},
      {"SE", "Sweden", "Sweden"},
      {"SG", "Singapore", "Singapore"},
      {"TW", "Taiwan", "Taiwan"},
      {"US", "USA", "USA"},
      {"WW", "World Wide", "World Wide"},
      {"IAD", "iAd", "iAd"},
  }};
  return rows;
}

QString KVRFinancialRegionCode(int row) {
  if (row < 0 || row >= KVRFinancialRegionCount) return QString(u""_qs);
  return QString::fromLatin1(KVRFinancialRegions()[size_t(row)].code);
}

QString KVRFinancialRegionLabel(int row) {
  if (row < 0 || row >= KVRFinancialRegionCount) return QString(u""_qs);
  const KVRFinancialRegion& region = KVRFinancialRegions()[size_t(row)];
  const QString translated = KVRLocalized(region.labelKey);
  // Without a translation the key comes back: the English label stands in.
  return translated == QLatin1String(region.labelKey) ? QString::fromUtf8(region.english) : translated;
}

int KVRIndexForRegionCode(QStringView code) {
  if (code.size() > 3) return -1;
  const auto& rows = KVRFinancialRegions();
  for (int i = 0; i < KVRFinancialRegionCount; ++i)
    if (code == QLatin1StringView(rows[size_t(i)].code)) return i;
  return -1;
}

int KVRMoneyRegionForCode(QStringView code) {
  const int row = KVRIndexForRegionCode(code);
  return row >= 1 ? row : -1;
}
