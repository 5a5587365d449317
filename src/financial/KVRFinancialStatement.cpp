#include "financial/KVRFinancialStatement.h"

#include <algorithm>

#include "core/KVRCalendar.h"

// ---------------------------------------------------------------- months

KVRDate KVRMonthKey::firstInstant() const {
  return KVRCalendar::shared().dateFromComponents(KVRDateComponents::ymd(year, month, 1));
}

std::optional<KVRMonthKey> KVRMonthKey::containing(KVRDate date) { return containing(date, KVRCalendar::shared()); }

std::optional<KVRMonthKey> KVRMonthKey::containing(KVRDate date, KVRCalendar& calendar) {
  if (!date.isValid()) return std::nullopt;
  const KVRDateComponents c = calendar.components(KVRYearCalendarUnit | KVRMonthCalendarUnit, date);
  if (!KVRDateComponents::isSet(c.year) || !KVRDateComponents::isSet(c.month)) return std::nullopt;
  return KVRMonthKey{c.year, c.month};
}

std::optional<KVRMonthKey> KVRMonthKey::ofReportDate(KVRDate beginDate) {
  return ofReportDate(beginDate, KVRCalendar::shared());
}

std::optional<KVRMonthKey> KVRMonthKey::ofReportDate(KVRDate beginDate, KVRCalendar& calendar) {
  if (!beginDate.isValid()) return std::nullopt;
  return containing(calendar.dateByAddingComponents(KVRDateComponents::days(15), beginDate), calendar);
}

KVRRegionRowTable KVRMakeRegionRowTable() {
  KVRRegionRowTable table;
  for (int r = 0; r < KVRFinancialRegionCount; ++r) {
    table[size_t(r)].label = KVRFinancialRegionLabel(r);
    table[size_t(r)].shortDesc = KVRFinancialRegionCode(r);
  }
  return table;
}

// ---------------------------------------------------------------- payments of a month

bool KVRMonthPayments::empty() const {
  return others_.empty() && std::none_of(rows_.begin(), rows_.end(), [](const auto& r) { return bool(r); });
}

const KVRPaymentRecord* KVRMonthPayments::forRow(int row) const {
  return row >= 0 && row < KVRFinancialRegionCount ? rows_[size_t(row)].get() : nullptr;
}

KVRPaymentRecordRef KVRMonthPayments::sharedForCode(QStringView code) const {
  const int row = KVRIndexForRegionCode(code);
  if (row >= 0) return rows_[size_t(row)];
  for (const auto& [c, record] : others_)
    if (c == code) return record;
  return nullptr;
}

const KVRPaymentRecord* KVRMonthPayments::forCode(QStringView code) const { return sharedForCode(code).get(); }

std::vector<std::pair<QString, KVRPaymentRecordRef>> KVRMonthPayments::all() const {
  std::vector<std::pair<QString, KVRPaymentRecordRef>> out;
  for (int r = 0; r < KVRFinancialRegionCount; ++r)
    if (rows_[size_t(r)]) out.emplace_back(KVRFinancialRegionCode(r), rows_[size_t(r)]);
  out.insert(out.end(), others_.begin(), others_.end());
  return out;
}

void KVRMonthPayments::set(const QString& code, KVRPaymentRecordRef record) {
  const int row = KVRIndexForRegionCode(code);
  if (row >= 0) {
    rows_[size_t(row)] = std::move(record);
    return;
  }
  auto it = std::find_if(others_.begin(), others_.end(), [&](const auto& e) { return e.first == code; });
  if (it != others_.end()) {
    if (record) it->second = std::move(record);
    else others_.erase(it);
  } else if (record) {
    others_.emplace_back(code, std::move(record));
  }
}

// ---------------------------------------------------------------- report index

KVRReport* KVRFinancialReportIndex::find(KVRMonthKey month, int row) const {
  const int offset = month.serial() - firstSerial;
  if (!month.isValid() || offset < 0 || offset >= monthCount) return nullptr;
  if (row >= 1 && row < KVRFinancialRegionCount) {
    if (KVRReport* r = byMonthAndRow[size_t(offset) * KVRFinancialRegionCount + size_t(row)]) return r;
  }
  return androidByMonth[size_t(offset)];
}

// ---------------------------------------------------------------- statement

std::vector<int> KVRFinancialStatement::years() const {
  std::vector<int> out;
  out.reserve(financialsByYear.size());
  for (const auto& [year, table] : financialsByYear) out.push_back(year);
  return out;
}

int KVRFinancialStatement::chosenYear(std::optional<int> shownYear) const {
  if (shownYear && financialsByYear.count(*shownYear)) return *shownYear;
  if (financialsByYear.empty()) return shownYear.value_or(0);
  return financialsByYear.rbegin()->first;
}

const KVRRegionRowTable* KVRFinancialStatement::yearTable(int year) const {
  auto it = financialsByYear.find(year);
  return it == financialsByYear.end() ? nullptr : &it->second;
}

int KVRFinancialStatement::indexOfMonth(int month, int year) const {
  const KVRMonthKey key{year, month};
  auto it = std::lower_bound(months.begin(), months.end(), key,
                             [](const KVRFinancialMonth& m, const KVRMonthKey& k) { return m.date < k; });
  if (it != months.end() && it->date == key) return int(it - months.begin());
  const KVRMonthKey last = months.empty() ? KVRMonthKey{-1, -1} : months.back().date;
  if (last.year > year || (last.year == year && last.month >= month)) return -1;
  return int(months.size());
}

std::optional<KVRMonthKey> KVRFinancialStatement::compsForIndex(int index) const {
  if (index < 0 || index >= int(months.size())) return std::nullopt;
  return months[size_t(index)].date;
}

const KVRFinancialMonth* KVRFinancialStatement::monthRecord(KVRMonthKey month) const {
  auto it = std::lower_bound(months.begin(), months.end(), month,
                             [](const KVRFinancialMonth& m, const KVRMonthKey& k) { return m.date < k; });
  return it != months.end() && it->date == month ? &*it : nullptr;
}

int KVRFinancialStatement::firstShownMonth(std::optional<KVRMonthKey> remembered) const {
  const int count = int(months.size());
  int index = remembered ? std::min(indexOfMonth(remembered->month, remembered->year), count - 3) : count - 3;
  return std::max(index, 0);
}

KVRReport* KVRFinancialStatement::financialReportForMonth(KVRMonthKey month, QStringView regionCode) const {
  return reportIndex.find(month, KVRMoneyRegionForCode(regionCode));
}

const KVRPaymentRecord* KVRFinancialStatement::dictForDate(KVRMonthKey month, QStringView regionCode) const {
  const KVRFinancialMonth* m = monthRecord(month);
  return m ? m->payments.forCode(regionCode) : nullptr;
}

std::vector<KVRReport*> KVRFinancialStatement::reportsOfMonths(int first, int count) const {
  std::vector<KVRReport*> out;
  for (int i = std::max(first, 0); i < first + count && i < int(months.size()); ++i) {
    for (int row = 1; row < KVRFinancialRegionCount; ++row) {
      KVRReport* r = reportIndex.find(months[size_t(i)].date, row);
      if (r && std::find(out.begin(), out.end(), r) == out.end()) out.push_back(r);
    }
  }
  return out;
}
