#pragma once
// What the benchmarks share: the application's names, the sample database
// they read (or their fall back to made-up data) and the peak memory.
//
//   VORTELY_BENCH_DATA         the sample folder (vortely-sample-data --size
//                              large --out <dir>) or the database file;
//                              default build/sample-large
//   VORTELY_BENCH_SYNTHETIC=1  made-up data instead (also used when no
//                              database is found)
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QString>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRApplicationServices.h"
#include "core/KVRVortelyCoreDataManager.h"

namespace bench {

// Every account selected in the product list.
class Everything : public KVRApplicationServices {
 public:
  std::vector<KVRVortelyManagedProduct*> products;
  std::vector<KVRStoreAccount*> accounts;
  bool updatesRankings = true;
  KVRVortelyManagedProduct* selectedProduct() override { return nullptr; }
  std::vector<KVRVortelyManagedProduct*> selectedProducts() override { return {}; }
  std::vector<KVRVortelyManagedProduct*> extendedSelectedProducts() override { return products; }
  std::vector<KVRStoreAccount*> selectedAccounts() override { return accounts; }
  bool isAccountSelected() override { return true; }
  bool shouldUpdateRankings() override { return updatesRankings; }
  void refreshProductsList() override {}
};

// The names the application runs under (its settings and support folder).
inline void nameApplication() {
  QCoreApplication::setOrganizationName("Pelliro");
  QCoreApplication::setApplicationName("Vortely");
}

inline double peakMegabytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// The database at `path`: the file itself, or the first one found below the
// folder ("Vortely.sqlite" first); empty when there is none.
inline QString findStore(const QString& path) {
  QFileInfo info(path);
  if (info.isFile()) return info.absoluteFilePath();
  if (!info.isDir()) return QString();
  QDirIterator it(path, {"Vortely.sqlite"}, QDir::Files, QDirIterator::Subdirectories);
  if (it.hasNext()) return it.next();
  QDirIterator any(path, {"*.sqlite", "*.db"}, QDir::Files, QDirIterator::Subdirectories);
  return any.hasNext() ? any.next() : QString();
}

struct Data {
  QString path;   // where the database was looked for
  QString store;  // the database file; empty: made-up data
};

inline Data dataFromEnvironment() {
  Data data;
  const char* dataEnv = std::getenv("VORTELY_BENCH_DATA");
  data.path = dataEnv ? QString::fromLocal8Bit(dataEnv) : QStringLiteral("build/sample-large");
  if (std::getenv("VORTELY_BENCH_SYNTHETIC") == nullptr) data.store = findStore(data.path);
  return data;
}

// Opens the store and loads the exchange rates of the support folder (point
// XDG_DATA_HOME at the sample's data folder to use the sample's own rates).
// False, with a message, when the store does not open.
inline bool openStore(KVRVortelyCoreDataManager& dm, const QString& store) {
  QString error;
  if (!dm.openStore(store, &error)) {
    std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(store), qPrintable(error));
    return false;
  }
  KVRVortelyCurrencyConverter::sharedInstance().loadRates();
  return true;
}

}  // namespace bench
