#pragma once
// The two exports of the financial statements screen, as plain functions over
// the statement on show:
//
//  - the financial reports of the three months shown in the grid, copied from
//    the stored report files (each account's "Financial" folder) into a chosen
//    folder, one file per report, keeping the header and the sales lines of
//    the chosen products;
//  - the yearly archive "YearlyFinancials.csv": one line per region and month
//    of a year, with units, income in the report currency and in the
//    preferred currency, and, while a store account is selected, the
//    reconciled income.
//
// Files are written whole or not at all (a temporary file in the folder, then
// renamed over the name). Every export ends with a result that says what was
// written where, what was left out and why, or why nothing was written.
// Main thread; the store is read under the context lock.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/KVRDate.h"

class KVRFinancialStatement;
class KVRVortelyManagedProduct;

// A report or file left out of an export, or a file that could not be written.
struct KVRExportItem {
  QString name;    // the file name (or the report's stored name when it has none)
  QString reason;  // why, as the user reads it
};

struct KVRFinancialExportResult {
  QString folder;                      // where the files were to go
  QStringList written;                 // names of the files written there, in order
  std::vector<KVRExportItem> skipped;  // left out, with the reason
  std::vector<KVRExportItem> failed;   // could not be written, with the reason
  QString nothing;                     // why there was nothing to export at all

  bool wroteFiles() const { return !written.isEmpty(); }
  bool hasFailures() const { return !failed.empty(); }
  // The message that ends the export: a title ("Export finished", "Nothing
  // was exported", "The export failed") and a text that gives how many files
  // were written into which folder, and names each file left out or not
  // written, with the reason.
  QString title() const;
  QString text() const;
};

// --- Exports ---------------------------------------------------------------

// The financial reports of the month records first .. first + 2 of the
// statement (the months the grid shows), copied into `folder`. With filter
// products (not null), only lines whose store identifier is one of theirs;
// a null or empty filter keeps every sales line.
KVRFinancialExportResult KVRExportVisibleDatesReports(const KVRFinancialStatement& statement, int firstShownMonth,
                                                      const QString& folder,
                                                      const std::vector<KVRVortelyManagedProduct*>* filterProducts);

// "YearlyFinancials.csv" of the year into `folder`. With filter products (not
// null and not empty) every month shows its estimates; without, a month paid
// shows its payment. The "Pointed Income" column exists only while a store
// account is selected.
KVRFinancialExportResult KVRExportYearlyArchive(const KVRFinancialStatement& statement, std::optional<int> year,
                                                bool accountSelected, const QString& folder,
                                                const std::vector<KVRVortelyManagedProduct*>* filterProducts);

// --- Pieces (also used by the tests) --------------------------------------

inline const QString KVRYearlyArchiveFileName = QStringLiteral("YearlyFinancials.csv");

// One CSV field: enclosed in double quotes, with its double quotes doubled,
// when it holds a comma, a double quote, a line feed or a carriage return.
QString KVRCsvField(const QString& field);

// The yearly archive's text: the header and one line per region and month,
// joined by line feeds, no line feed after the last; empty when the year has
// no month (nothing but the header would be written).
QByteArray KVRYearlyArchiveText(const KVRFinancialStatement& statement, int year, bool accountSelected,
                                const std::vector<KVRVortelyManagedProduct*>* filterProducts);

// What is kept of a stored financial report: the first line, then the lines
// of at least 22 TAB-separated fields that are not summaries ("Total_Amount…"
// in field 0, or a field "Total") and, when store identifiers are given, whose
// field 10 is one of them. Lines end at CR, LF or CR LF; a leading byte-order
// mark is dropped. Null when the bytes are not UTF-8; the header alone when no
// line passes.
std::optional<QStringList> KVRFilterFinancialReport(const QByteArray& bytes, const std::vector<int64_t>& storeIds);

// A name that can only name a file inside a folder: not empty, not "." or
// "..", without "/", "\", NUL or any control character.
bool KVRIsPlainFileName(const QString& name);

// The file name of a stored report name: the name without "<developer>-";
// null when it does not begin with that prefix.
QString KVRReportFileName(const QString& storedName, const QString& developer);

// `name` when not among `taken` (compared without case), else the name with
// " (2)", " (3)"... before its extension.
QString KVRUniqueFileName(const QString& name, const QStringList& taken);

// Writes the bytes as the file `path` in one piece: a temporary file beside
// it, flushed, then renamed over the name (a symbolic link of that name is
// replaced, never followed). On failure nothing is left behind and the former
// file, if any, is untouched; false with the reason.
bool KVRWriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error);

// The platform's standard description of a date: "2011-03-01 00:00:00 +0100"
// (Gregorian, the user's time zone and its offset).
QString KVRDateDescription(KVRDate date);
