#include "financial/KVRFinancialExports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unicode/gregocal.h>
#include <unicode/smpdtfmt.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "financial/KVRFinancialStatement.h"
#include "financial/KVRFinancialTexts.h"
#include "platform/KVRICUSupport.h"
#include "platform/KVRLocalization.h"
#include "platform/KVRVortelyLogCenter.h"
#include "reports/KVRVortelyReportsManager.h"

namespace {

const QString kLogKeyword = QStringLiteral("Reports Controller");

void log(const QString& message) { KVRVortelyLogCenter::sharedInstance().addLogEntry(message, false, kLogKeyword); }

// A name as it can be shown in a message: control characters as "?".
QString shownName(const QString& name) {
  QString out = name;
  for (QChar& c : out)
    if (c.category() == QChar::Other_Control) c = QLatin1Char('?');
  return out;
}

std::vector<int64_t> storeIdsOf(const std::vector<KVRVortelyManagedProduct*>* products) {
  std::vector<int64_t> ids;
  if (!products) return ids;
  for (const KVRVortelyManagedProduct* p : *products)
    if (p) ids.push_back(p->idStore);
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

// Field 10 of a report line as a store identifier: a whole number, nothing else.
std::optional<int64_t> storeIdOfField(QStringView field) {
  bool ok = false;
  const qlonglong id = field.trimmed().toLongLong(&ok);
  return ok ? std::optional<int64_t>(int64_t(id)) : std::nullopt;
}

bool isSummaryLine(const QList<QStringView>& fields) {
  if (!fields.isEmpty() && fields.front().startsWith(u"Total_Amount")) return true;
  return std::any_of(fields.begin(), fields.end(), [](QStringView f) { return f == u"Total"; });
}

// What a month of a region shows when its payment is not used.
QString regionCurrency(const QString& code) {
  QString currency = KVRVortelyCurrencyConverter::currencyValueForCurrencyRegion(code);
  if (currency.isEmpty()) currency = KVRVortelyCurrencyConverter::currencyValueForCurrencyRegion(QStringLiteral("US"));
  if (currency.isEmpty()) currency = QStringLiteral("USD");
  return currency;
}

// A source file's folder: the account's "Financial" folder, looked up without
// creating anything; null when it is not there.
QString financialFolderForReading(const QString& accountKey) {
  if (!KVRVortelyReportsManager::isPlainFolderName(accountKey)) return QString();
  const QString folder = KVRVortelyReportsManager::reportsFolder() + QLatin1Char('/') + accountKey +
                         QLatin1Char('/') + KVRVortelyReportsManager::reportSubfolderNames().at(3);
  return QFileInfo(folder).isDir() ? folder : QString();
}

QString joinLines(const QStringList& lines) { return lines.join(QLatin1Char('\n')); }

}  // namespace

// ---------------------------------------------------------------------------
// Pieces

QString KVRCsvField(const QString& field) {
  const bool quoted = field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
                      field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'));
  if (!quoted) return field;
  QString doubled = field;
  doubled.replace(QLatin1String("\""), QLatin1String("\"\""));
  return QLatin1Char('"') + doubled + QLatin1Char('"');
}

bool KVRIsPlainFileName(const QString& name) {
  if (!KVRVortelyReportsManager::isPlainFolderName(name)) return false;
  for (const QChar c : name)
    if (c.category() == QChar::Other_Control) return false;
  return true;
}

QString KVRReportFileName(const QString& storedName, const QString& developer) {
  const QString prefix = developer + QLatin1Char('-');
  if (developer.isEmpty() || !storedName.startsWith(prefix)) return QString();
  return storedName.mid(prefix.size());
}

QString KVRUniqueFileName(const QString& name, const QStringList& taken) {
  if (!taken.contains(name, Qt::CaseInsensitive)) return name;
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const bool hasExtension = dot > 0;
  const QString stem = hasExtension ? name.left(dot) : name;
  const QString extension = hasExtension ? name.mid(dot) : QString();
  for (int n = 2;; ++n) {
    const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem).arg(n).arg(extension);
    if (!taken.contains(candidate, Qt::CaseInsensitive)) return candidate;
  }
}

std::optional<QStringList> KVRFilterFinancialReport(const QByteArray& bytes, const std::vector<int64_t>& storeIds) {
  QStringDecoder decoder(QStringDecoder::Utf8);
  QString text = decoder.decode(bytes);
  if (decoder.hasError()) return std::nullopt;
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);

  QStringList kept;
  const QStringView all(text);
  qsizetype start = 0;
  bool first = true;
  auto take = [&](QStringView line) {
    if (first) {
      kept.append(line.toString());
      first = false;
      return;
    }
    const QList<QStringView> fields = line.split(u'\t');
    if (fields.size() < 22 || isSummaryLine(fields)) return;
    if (!storeIds.empty()) {
      const std::optional<int64_t> id = storeIdOfField(fields[10]);
      if (!id || !std::binary_search(storeIds.begin(), storeIds.end(), *id)) return;
    }
    kept.append(line.toString());
  };
  for (qsizetype i = 0; i < all.size(); ++i) {
    const QChar c = all[i];
    if (c != u'\n' && c != u'\r') continue;
    take(all.mid(start, i - start));
    if (c == u'\r' && i + 1 < all.size() && all[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < all.size()) take(all.mid(start));
  return kept;
}

bool KVRWriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error) {
  const QFileInfo target(path);
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  if (target.isDir() && !target.isSymLink()) return fail(KVRLocalized("a folder of that name is in the way"));
  QTemporaryFile temp(target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".XXXXXX"));
  if (!temp.open()) return fail(temp.errorString());
  if (temp.write(bytes) != bytes.size() || !temp.flush()) return fail(temp.errorString());
  temp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                      QFileDevice::ReadOther);
  temp.close();
  // rename() replaces the name in one step and never follows a link there.
  const QByteArray from = QFile::encodeName(temp.fileName()), to = QFile::encodeName(target.absoluteFilePath());
  if (std::rename(from.constData(), to.constData()) != 0) return fail(QString::fromLocal8Bit(std::strerror(errno)));
  temp.setAutoRemove(false);
  return true;
}

QString KVRDateDescription(KVRDate date) {
  if (!date.isValid()) return QString(u""_qs);
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale posix("en_US_POSIX");
  icu::SimpleDateFormat format(icu::UnicodeString(u"yyyy-MM-dd HH:mm:ss Z"), posix, status);
  auto calendar = std::make_unique<icu::GregorianCalendar>(KVRUserTimeZone().release(), posix, status);
  if (U_FAILURE(status)) return QString(u""_qs);
  calendar->setGregorianChange(-8.64e15, status);  // proleptic, as the shared calendar is
  format.adoptCalendar(calendar.release());
  icu::UnicodeString out;
  format.format(date.ms, out);
  return KVRFromUnicodeString(out);
}

// ---------------------------------------------------------------------------
// The message

QString KVRFinancialExportResult::title() const {
  if (hasFailures()) return KVRLocalized("The export failed");
  if (!wroteFiles()) return KVRLocalized("Nothing was exported");
  return KVRLocalized("Export finished");
}

QString KVRFinancialExportResult::text() const {
  QStringList parts;
  const QString where = QDir::toNativeSeparators(folder);
  if (!nothing.isEmpty()) parts << nothing;
  else if (written.isEmpty() && failed.empty()) parts << KVRLocalized("No file was written into “%1”.").arg(where);
  // What was written is a count and a folder; only what was left out or
  // failed is named.
  if (!written.isEmpty())
    parts << (written.size() == 1 ? KVRLocalized("1 file was written into “%1”.").arg(where)
                                  : KVRLocalized("%1 files were written into “%2”.")
                                        .arg(KVRFinancialDecimalText(double(written.size())), where));
  // A long list is cut short (the log centre holds every name).
  auto list = [](const std::vector<KVRExportItem>& items) {
    constexpr size_t kShown = 10;
    QStringList lines;
    for (size_t i = 0; i < items.size() && (i < kShown || items.size() == kShown + 1); ++i)
      lines << QStringLiteral("• “%1”: %2").arg(shownName(items[i].name), items[i].reason);
    if (size_t(lines.size()) < items.size())
      lines << KVRLocalized("• and %1 more").arg(KVRFinancialDecimalText(double(items.size() - size_t(lines.size()))));
    return lines.join(QLatin1Char('\n'));
  };
  if (!failed.empty())
    parts << KVRLocalized("Not written into “%1”:").arg(where) + QLatin1Char('\n') + list(failed);
  if (!skipped.empty()) parts << KVRLocalized("Left out:") + QLatin1Char('\n') + list(skipped);
  if (parts.isEmpty()) parts << KVRLocalized("There was nothing to export.");
  return parts.join(QStringLiteral("\n\n"));
}

// ---------------------------------------------------------------------------
// Reports of the shown months

KVRFinancialExportResult KVRExportVisibleDatesReports(const KVRFinancialStatement& statement, int firstShownMonth,
                                                      const QString& folder,
                                                      const std::vector<KVRVortelyManagedProduct*>* filterProducts) {
  log(QStringLiteral("exportVisibleDatesReportsToPath start"));
  KVRFinancialExportResult result;
  result.folder = folder;
  const std::vector<int64_t> ids = storeIdsOf(filterProducts);

  // What each report's file is, read from the store in one go.
  struct Source {
    QString name;     // the file name, or the stored name when there is none
    QString path;     // the stored file; empty when the report is skipped
    QString folder;   // the account's Financial folder
    QString skipped;  // why it is left out
  };
  std::vector<Source> sources;
  {
    KVRVortelyCoreDataManager& dm = KVRVortelyCoreDataManager::sharedInstance();
    std::lock_guard<std::recursive_mutex> context(dm.contextLock());
    for (const KVRReport* report : statement.reportsOfMonths(firstShownMonth, 3)) {
      Source s;
      s.name = report->filename;
      if (!report->account) {
        s.skipped = KVRLocalized("it belongs to no store account");
      } else {
        const QString fileName = KVRReportFileName(report->filename, report->account->developer);
        const QString key = KVRAccountKey(*report->account);
        if (!fileName.isNull()) s.name = fileName;
        if (!key.isEmpty()) s.folder = financialFolderForReading(key);
        if (fileName.isNull())
          s.skipped = KVRLocalized("its name does not begin with its account's developer name");
        else if (!KVRIsPlainFileName(fileName))
          s.skipped = KVRLocalized("its file name is not a plain file name");
        else if (s.folder.isEmpty())
          s.skipped = KVRLocalized("its account has no folder of financial reports");
        else
          s.path = s.folder + QLatin1Char('/') + fileName;
      }
      sources.push_back(std::move(s));
    }
  }
  if (sources.empty()) {
    result.nothing = KVRLocalized("The months on show have no financial report, so no file was written.");
    log(QStringLiteral("exportVisibleDatesReportsToPath end: no report"));
    return result;
  }

  QStringList taken;
  for (Source& s : sources) {
    if (s.skipped.isEmpty()) {
      const QFileInfo info(s.path);
      const QString canonicalFolder = QFileInfo(s.folder).canonicalFilePath();
      if (!info.exists()) {
        s.skipped = KVRLocalized("its file is not in its account's folder of financial reports");
      } else if (!info.isFile() || canonicalFolder.isEmpty() ||
                 QFileInfo(info.canonicalFilePath()).absolutePath() != canonicalFolder) {
        // A link out of the folder, or something that is not a file.
        s.skipped = KVRLocalized("its file is not a plain file of its account's folder of financial reports");
      }
    }
    if (!s.skipped.isEmpty()) {
      result.skipped.push_back({s.name, s.skipped});
      continue;
    }
    QFile file(s.path);
    if (!file.open(QIODevice::ReadOnly)) {
      result.skipped.push_back({s.name, KVRLocalized("its file could not be read (%1)").arg(file.errorString())});
      continue;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
      result.skipped.push_back({s.name, KVRLocalized("its file could not be read (%1)").arg(file.errorString())});
      continue;
    }
    const std::optional<QStringList> lines = KVRFilterFinancialReport(bytes, ids);
    if (!lines) {
      result.skipped.push_back({s.name, KVRLocalized("its file is not UTF-8 text")});
      continue;
    }
    if (lines->size() < 2) {
      result.skipped.push_back({s.name, ids.empty() ? KVRLocalized("its file holds no sales line")
                                                    : KVRLocalized("its file holds no sales line of the chosen products")});
      continue;
    }
    const QString outName = KVRUniqueFileName(s.name, taken);
    taken << outName;
    QString error;
    if (KVRWriteFileAtomically(folder + QLatin1Char('/') + outName, joinLines(*lines).toUtf8(), &error))
      result.written << outName;
    else
      result.failed.push_back({outName, error});
  }
  for (const KVRExportItem& i : result.skipped) log(QStringLiteral("left out %1: %2").arg(shownName(i.name), i.reason));
  for (const KVRExportItem& i : result.failed) log(QStringLiteral("not written %1: %2").arg(shownName(i.name), i.reason));
  log(QStringLiteral("exportVisibleDatesReportsToPath end: %1 written, %2 left out, %3 failed")
          .arg(result.written.size())
          .arg(result.skipped.size())
          .arg(result.failed.size()));
  return result;
}

// ---------------------------------------------------------------------------
// Yearly archive

QByteArray KVRYearlyArchiveText(const KVRFinancialStatement& statement, int year, bool accountSelected,
                                const std::vector<KVRVortelyManagedProduct*>* filterProducts) {
  const bool filtered = filterProducts && !filterProducts->empty();
  const QString preferred = KVRVortelyCurrencyConverter::sharedInstance().preferedCurrency();
  const KVRRegionRowTable* table = statement.yearTable(year);
  std::optional<KVRRegionRowTable> fallback;
  if (!table) fallback = KVRMakeRegionRowTable();
  const KVRRegionRowTable& rows = table ? *table : *fallback;

  auto line = [](const QStringList& fields) {
    QStringList escaped;
    escaped.reserve(fields.size());
    for (const QString& f : fields) escaped << KVRCsvField(f);
    return escaped.join(QLatin1Char(','));
  };

  QStringList header = {KVRLocalized("Date"),           KVRLocalized("Region"),
                        KVRLocalized("Units"),          KVRLocalized("Income (local)"),
                        KVRLocalized("Currency (local)"), KVRLocalized("Income (your currency)"),
                        KVRLocalized("Your Currency")};
  if (accountSelected) header << KVRLocalized("Pointed Income");
  QStringList lines = {line(header)};

  // Each month's date text, once for all regions.
  std::vector<QString> dateTexts(statement.months.size());
  for (size_t m = 0; m < statement.months.size(); ++m)
    if (statement.months[m].date.year == year) dateTexts[m] = KVRDateDescription(statement.months[m].date.firstInstant());

  for (int row = 1; row < KVRFinancialRegionCount; ++row) {
    const QString code = rows[size_t(row)].shortDesc;
    const int i = KVRIndexForRegionCode(code);
    if (i < 0) continue;
    for (size_t m = 0; m < statement.months.size(); ++m) {
      const KVRFinancialMonth& month = statement.months[m];
      if (month.date.year != year) continue;
      QStringList fields = {dateTexts[m], rows[size_t(row)].label,
                            QString::number(std::lround(double(month.units[i])))};
      const KVRPaymentRecord* paid = !filtered && !month.payments.empty() ? month.payments.forCode(code) : nullptr;
      QString pointed = QStringLiteral("--");
      if (paid) {
        // A month paid by a later payment carries no currency of its own.
        fields << KVRFinancialAmountNumber(paid->localIncome)
               << (paid->localCurrency.isEmpty() ? regionCurrency(code) : paid->localCurrency)
               << KVRFinancialAmountNumber(paid->income);
        if (paid->isReconciled()) pointed = KVRFinancialAmountNumber(paid->pointedIncome);
      } else {
        fields << KVRFinancialAmountNumber(month.incomeLocal[i]) << regionCurrency(code) << KVRFinancialAmountNumber(month.income[i]);
      }
      fields << preferred;
      if (accountSelected) fields << pointed;
      lines << line(fields);
    }
  }
  if (lines.size() < 2) return QByteArray();
  return joinLines(lines).toUtf8();
}

KVRFinancialExportResult KVRExportYearlyArchive(const KVRFinancialStatement& statement, std::optional<int> year,
                                                bool accountSelected, const QString& folder,
                                                const std::vector<KVRVortelyManagedProduct*>* filterProducts) {
  log(QStringLiteral("exportYearlyArchiveToPath start"));
  KVRFinancialExportResult result;
  result.folder = folder;
  if (!year) {
    result.nothing = KVRLocalized("No year is chosen, so “%1” was not written.").arg(KVRYearlyArchiveFileName);
    return result;
  }
  const QByteArray text = KVRYearlyArchiveText(statement, *year, accountSelected, filterProducts);
  if (text.isEmpty()) {
    result.nothing = KVRLocalized("The statement has no month in %1, so “%2” was not written.")
                         .arg(*year)
                         .arg(KVRYearlyArchiveFileName);
  } else {
    QString error;
    if (KVRWriteFileAtomically(folder + QLatin1Char('/') + KVRYearlyArchiveFileName, text, &error))
      result.written << KVRYearlyArchiveFileName;
    else
      result.failed.push_back({KVRYearlyArchiveFileName, error});
  }
  log(QStringLiteral("exportYearlyArchiveToPath end: %1").arg(result.wroteFiles() ? "written" : "not written"));
  return result;
}
