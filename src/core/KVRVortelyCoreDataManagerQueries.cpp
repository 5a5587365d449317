// Queries of the context: payment reports, reports by name, new report lines, a report's income.
#include "core/KVRVortelyCoreDataManagerImpl.h"

#include "catalogue/KVRVortelyCurrencyConverter.h"

std::vector<KVRReport*> KVRVortelyCoreDataManager::paymentReports() {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  std::vector<KVRReport*> result;
  for (KVRReport* r : d_->reports)
    if (r->type == KVRReportTypePayment) result.push_back(r);
  return result;
}

KVRReport* KVRVortelyCoreDataManager::reportWithName(const QString& filename) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  // The importer asks once per report file, so the names are indexed: reports
  // appended since the last question are added; a deletion or a marked change
  // of a report (its name may have changed) rebuilds the index.
  Impl& d = *d_;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (d.reportsIndexDirty || d.reportsIndexed > d.reports.size()) {
      d.reportsByName.clear();
      d.reportsIndexed = 0;
      d.reportsIndexDirty = false;
    }
    for (; d.reportsIndexed < d.reports.size(); ++d.reportsIndexed) {
      KVRReport* r = d.reports[d.reportsIndexed];
      if (!d.reportsByName.contains(r->filename)) d.reportsByName.insert(r->filename, r);  // the first one wins
    }
    auto it = d.reportsByName.constFind(filename);
    if (it == d.reportsByName.constEnd()) break;
    if (it.value()->filename == filename) return it.value();
    d.reportsIndexDirty = true;  // renamed behind our back: look again from scratch
  }
  KVRReport* r = insertReport();
  r->filename = filename;
  return r;
}

KVRReportEntry* KVRVortelyCoreDataManager::reportEntryInReport(KVRReport* report, KVRVortelyManagedProduct* product,
                                                               KVRDate date, const QString& country,
                                                               const QString& currency, int type,
                                                               bool /*forceCreate*/) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  KVRReportEntry* e = d_->entryPool.create();
  d_->newEntries.push_back(e);
  if (report || product) d_->madeFor.emplace(e, std::make_pair(report, product));
  e->beginDate = date;
  e->currency = d_->strings.get(currency);
  e->country = d_->strings.get(country);
  // A book's line comes with its entry type plus this offset.
  constexpr int kBookEntryTypeOffset = 10;
  if (type > kBookEntryTypeOffset) {
    type -= kBookEntryTypeOffset;
    if (product) {
      product->category = QStringLiteral("E-Book");
      markChanged(product);
    }
  } else if (type == KVREntryTypeInAppPurchase) {
    if (product) {
      product->category = QStringLiteral("In-App Purchase");
      markChanged(product);
    }
  }
  e->type = type;
  return e;
}

float KVRVortelyCoreDataManager::incomeValueForReport(KVRReport* report) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  if (!report) return 0.0f;
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
  float sum = 0.0f;
  for (const KVRReportEntry* e : report->entries) {
    const float amount = float(e->count) * float(e->income);
    sum += converter.convertAmountToPreferedCurrency(amount, e->currency);
  }
  return sum / 100.0f;
}
