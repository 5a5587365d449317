// vortely-sample-data: fills a support folder with generated sample data.
//
//   vortely-sample-data --size small|demo|large [--out <support folder>] [--seed N] [--end-date YYYY-MM-DD]
//
// Without --out it fills the application's own support folder. The folder must
// not hold a database yet. The same seed and end date give the same data;
// without --end-date the data ends yesterday. The bank accounts go to the
// application's user defaults (its QSettings file), where the application
// reads them, whichever folder is filled.
#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QStringList>
#include <cstdio>

#include "sampledata/KVRDatabaseSampleData.h"
#include "platform/KVRSupportFolder.h"

namespace {
int usage(const char* why) {
  if (why) std::fprintf(stderr, "vortely-sample-data: %s\n", why);
  std::fprintf(stderr,
               "usage: vortely-sample-data --size small|demo|large [--out <support folder>] [--seed N]"
               " [--end-date YYYY-MM-DD]\n");
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Pelliro"));
  QCoreApplication::setApplicationName(QStringLiteral("Vortely"));

  KVRSampleDataOptions options;
  bool sizeGiven = false;
  const QStringList args = QCoreApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
      usage(nullptr);
      return 0;
    }
    if (i + 1 >= args.size()) return usage("an option lacks its value");
    const QString v = args[++i];
    if (a == QLatin1String("--size")) {
      if (!KVRParseSampleDataSize(v, &options.size)) return usage("the size is small, demo or large");
      sizeGiven = true;
    } else if (a == QLatin1String("--out")) {
      options.outFolder = v;
    } else if (a == QLatin1String("--seed")) {
      bool ok = false;
      options.seed = v.toULongLong(&ok);
      if (!ok) return usage("the seed is a whole number");
    } else if (a == QLatin1String("--end-date")) {
      const QDate d = QDate::fromString(v, QStringLiteral("yyyy-MM-dd"));
      if (!d.isValid()) return usage("the end date reads YYYY-MM-DD");
      options.lastDay = KVRCivilDayFromYMD(d.year(), unsigned(d.month()), unsigned(d.day()));
    } else {
      return usage("unknown option");
    }
  }
  if (!sizeGiven) return usage("--size is required");
  if (options.outFolder.isEmpty()) options.outFolder = KVRSupportFolder::path();

  QElapsedTimer clock;
  clock.start();
  KVRSampleDataSummary summary;
  QString error;
  const bool ok = KVRGenerateSampleData(options, &summary, &error, [&](const QString& line) {
    std::fprintf(stderr, "[%6.1f s] %s\n", clock.elapsed() / 1000.0, qPrintable(line));
  });
  if (!ok) {
    std::fprintf(stderr, "vortely-sample-data: %s\n", qPrintable(error));
    return 1;
  }
  std::printf("%s: %d accounts, %d products, %d reports, %lld report lines, %lld ad lines, %lld ratings,"
              " %d financial report files\n",
              qPrintable(summary.databasePath), summary.accounts, summary.products, summary.reports,
              static_cast<long long>(summary.entries), static_cast<long long>(summary.iAdEntries),
              static_cast<long long>(summary.ratings), summary.financialFiles);
  return 0;
}
