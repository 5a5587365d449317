#include "financial/KVRFinancialsByRegion.h"

#include "platform/KVRLocalization.h"

const std::array<KVRFinancialRegion, KVRFinancialRegionCount>& KVRFinancialRegions() {
  static const std::array<KVRFinancialRegion, KVRFinancialRegionCount> rows = {{
      {"", "All Region"},
      {"AU", "AustraliaR"},
      {"CA", "CanadaR"},
      {"CH", "SwitzerlandR"},
      {"CN", "ChinaR"},
      {"DK", "Denmark"},
      {"EU", "Europe"},
      {"GB", "Great BritainR"},
      {"HK", "Hong Kong"},
      {"JP", "JapanR"},
      {"MX", "MexicoR"},
      {"NO", "NorwayR"},
      {"NZ", "New ZealandR"},
      {"SE", "Sweden"},
      {"SG", "Singapore"},
      {"TW", "Taiwan"},
      {"US", "USA"},
      {"WW", "World Wide"},
      {"IAD", "iAd"},
  }};
  return rows;
}

QString KVRFinancialRegionCode(int row) {
  if (row < 0 || row >= KVRFinancialRegionCount) return QString(u""_qs);
  return QString::fromLatin1(KVRFinancialRegions()[size_t(row)].code);
}

QString KVRFinancialRegionLabel(int row) {
  if (row < 0 || row >= KVRFinancialRegionCount) return QString(u""_qs);
  return KVRLocalized(KVRFinancialRegions()[size_t(row)].labelKey);
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
