#pragma once
// Sample data: a support folder filled the way the report importer would have
// left it (database, Financial report files, exchange rates, bank accounts in
// the user defaults), with made-up but plausibly shaped sales. Used by the
// vortely-sample-data tool, the demo start and the benchmarks.
#include <QString>
#include <cstdint>
#include <functional>

#include "platform/KVRDate.h"

enum class KVRSampleDataSize { Small, Demo, Large };

struct KVRSampleDataOptions {
  KVRSampleDataSize size = KVRSampleDataSize::Demo;
  uint64_t seed = 1;
  // The support folder to fill. Its "Vortely.sqlite" must not exist yet.
  QString outFolder;
  // The last day with sales; 0 = yesterday (local). Pin it for output that is
  // the same from one day to the next.
  KVRCivilDay lastDay = 0;
};

// What was written: counts and sums that tell two runs apart.
struct KVRSampleDataSummary {
  int accounts = 0;
  int products = 0;
  int reports = 0;
  int64_t entries = 0;
  int64_t iAdEntries = 0;
  int64_t ratings = 0;
  int64_t unitSum = 0;       // sum of the counts of every report line
  int64_t incomeSum = 0;     // sum of count x income (hundredths) of every report line
  double adRevenueSum = 0;   // sum of the ad lines' revenue
  int financialFiles = 0;
  QString databasePath;
};

bool KVRParseSampleDataSize(const QString& text, KVRSampleDataSize* size);

// Generates the sample. The user defaults ("FinancialAccounts") are written
// through KVRUserDefaults::standard(), that is to the application's own
// settings whatever the folder, since the application reads them from there;
// existing bank accounts of other labels are kept. Progress lines go to
// `progress` when given. False with a reason on failure.
bool KVRGenerateSampleData(const KVRSampleDataOptions& options, KVRSampleDataSummary* summary, QString* error,
                           const std::function<void(const QString&)>& progress = {});
