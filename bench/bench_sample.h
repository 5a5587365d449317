#pragma once
// The large sample the financial benchmarks read: the database named by
// VORTELY_BENCH_DATA (see bench_common.h), or else one generated for the run.
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

#include "bench_common.h"
#include "sampledata/KVRDatabaseSampleData.h"

namespace bench {

// Opens the sample with its own exchange rates (its folder is the support
// folder): the database found from the environment, or else a large sample
// generated into `scratch`. The database file; empty, with a message, when
// none could be made or opened.
inline QString openLargeSample(KVRVortelyCoreDataManager& dm, const QTemporaryDir& scratch) {
  QString store = dataFromEnvironment().store;
  if (store.isEmpty()) {
    std::printf("no sample found: generating a large one...\n");
    KVRSampleDataOptions o;
    o.size = KVRSampleDataSize::Large;
    o.outFolder = scratch.filePath("sample");
    o.lastDay = KVRCivilDayFromYMD(2012, 6, 30);
    QString error;
    if (!KVRGenerateSampleData(o, nullptr, &error)) {
      std::fprintf(stderr, "cannot generate the sample: %s\n", qPrintable(error));
      return QString();
    }
    store = o.outFolder + "/Vortely.sqlite";
  }
  qputenv("VORTELY_SUPPORT_FOLDER", QFile::encodeName(QFileInfo(store).absolutePath()));
  return openStore(dm, store) ? store : QString();
}

}  // namespace bench
