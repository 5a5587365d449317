#pragma once
// The financial statement: everything the financial screens show, built in
// one piece from the selection and the store by KVRFinancialStatementBuilder.
//
//  - the region row table of every year with financial reports (year income
//    per region in the preferred currency and in the report currencies);
//  - one month record per month, ascending: three region vectors (preferred
//    income, local income, units) and the payment records of the month;
//  - the payment records: what a payment pays for its own month (payment
//    form) and for the earlier months it also covers (prior-month form),
//    shared by every month cell that shows them;
//  - the index (month, region) -> financial report of the selected products;
//  - the store changes the build asks for (payment reports' begin dates, the
//    deletion of reports put aside), which the builder applies.
//
// Months are keyed by (year, month); an instant is made of a month only at
// the edges (date pickers, texts), as the first instant of the month in the
// application calendar.
//
// The statement points at reports of the data manager's context: it is
// dropped when the store closes. Main thread.
#include <QString>
#include <QStringView>
#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "financial/KVRFinancialsByRegion.h"
#include "platform/KVRDate.h"

struct KVRReport;
class KVRCalendar;

// A calendar month.
struct KVRMonthKey {
  int year = 0;
  int month = 0;  // 1 = January ... 12 = December

  constexpr auto operator<=>(const KVRMonthKey&) const = default;
  constexpr bool isValid() const { return month >= 1 && month <= 12; }
  // Months counted from year 0, so that keys step by one.
  constexpr int serial() const { return year * 12 + (month - 1); }
  static constexpr KVRMonthKey fromSerial(int s) {
    const int y = s >= 0 ? s / 12 : -((-s + 11) / 12);
    return {y, s - y * 12 + 1};
  }
  constexpr KVRMonthKey previous() const { return fromSerial(serial() - 1); }
  constexpr KVRMonthKey next() const { return fromSerial(serial() + 1); }

  // The first instant of the month in the application calendar.
  KVRDate firstInstant() const;
  // The month a date falls in, in the application calendar (or the one
  // given); none without a date.
  static std::optional<KVRMonthKey> containing(KVRDate date);
  static std::optional<KVRMonthKey> containing(KVRDate date, KVRCalendar& calendar);
  // The month of a financial report or a payment line: the month of its begin
  // date plus 15 days, so that a report beginning on the 20th counts for the
  // following month. None without a date.
  static std::optional<KVRMonthKey> ofReportDate(KVRDate beginDate);
  static std::optional<KVRMonthKey> ofReportDate(KVRDate beginDate, KVRCalendar& calendar);
};

// One row of a region row table.
struct KVRRegionRow {
  QString label;      // Label: translated
  QString shortDesc;  // ShortDesc: the region code ("" for row 0)
  float income = 0;       // Income: preferred currency
  float incomeLocal = 0;  // IncomeLocal: report currencies
};
using KVRRegionRowTable = std::array<KVRRegionRow, KVRFinancialRegionCount>;
// The 19 rows with their labels and codes and zero amounts.
KVRRegionRowTable KVRMakeRegionRowTable();

// What a payment means for one month and one region.
//
// Payment form (paymentReport set): the payment of this month by one account.
// Prior-month form (no paymentReport, paymentMonth set): an earlier month that
// the payment of paymentMonth also covers; localIncome is then this month's
// estimate for the region. Where several selected accounts have an estimate or
// a payment for the same month and region, the month's record is their
// summary: amounts summed, no single report (paymentReport null,
// payingReports lists them), reconciled only when every one of those accounts
// is, with a paying month only when every one has a payment; each account's
// own record stays in the month's parts.
struct KVRPaymentRecord {
  KVRReport* paymentReport = nullptr;       // PaymentReport
  std::optional<KVRMonthKey> paymentMonth;  // PaymentMonth
  float localIncome = 0;                    // LocalIncome: payment currency
  QString localCurrency;                    // LocalCurrency: "" when the payment line has none
  QString localIncomeStr;                   // LocalIncomeStr: amount and symbol (payment form)
  float income = 0;                         // Income: preferred currency
  QString incomeStr;                        // IncomeStr (payment form)
  std::optional<float> jpRatio;             // JPRatio (payment form)
  // Reconciled: the money received is known. PaymentRatio = received /
  // Income; PointedIncome in the preferred currency.
  std::optional<float> paymentRatio;        // PaymentRatio
  float pointedIncome = 0;                  // PointedIncome, when reconciled
  QString pointedIncomeStr;                 // PointedIncomeStr, when reconciled (payment form)
  KVRDate pointedDate;                      // PointedDate, when reconciled (payment form)
  QString pointedAccount;                   // PointedAccount, when reconciled (payment form)
  std::vector<KVRMonthKey> priorMonths;     // PriorMonths: newest first (payment form)
  // The payment reports this record comes from (for a prior-month form, the
  // payment that covers the month).
  std::vector<KVRReport*> payingReports;

  bool isPaymentForm() const { return paymentReport != nullptr; }
  bool isReconciled() const { return paymentRatio.has_value(); }
  float jpRatioOrOne() const { return jpRatio.value_or(1.0f); }
  float paymentRatioOrOne() const { return paymentRatio.value_or(1.0f); }
};
using KVRPaymentRecordRef = std::shared_ptr<const KVRPaymentRecord>;

// The payment records of one month, by region code.
class KVRMonthPayments {
 public:
  bool empty() const;
  const KVRPaymentRecord* forRow(int row) const;  // rows 0 to 18
  const KVRPaymentRecord* forCode(QStringView code) const;
  KVRPaymentRecordRef sharedForCode(QStringView code) const;
  // Every (code, record): the table's rows in row order, then other codes.
  std::vector<std::pair<QString, KVRPaymentRecordRef>> all() const;
  // Stores (or with null removes) the record of a code.
  void set(const QString& code, KVRPaymentRecordRef record);

 private:
  std::array<KVRPaymentRecordRef, KVRFinancialRegionCount> rows_;
  std::vector<std::pair<QString, KVRPaymentRecordRef>> others_;  // codes outside the table
};

// One account's share of a month, as if the account were selected alone: its
// selected products' figures and its own payment records. The selected
// products of accounts that are not selected share one part without payments.
struct KVRAccountMonth {
  KVRFinancialsByRegion income, incomeLocal, units;
  KVRMonthPayments payments;
  uint32_t estimateRows = 0;  // bit r: the account's selected products have lines in region r
};

// What every view shows for a region in a month, computed once: the grid's
// cell, the details panel, the totals, the year tables, the trend of a
// product selection. Each account's part is rounded on its own (round2, half
// away from zero) after its own ratios; the month's figure is their sum.
struct KVRRegionFigure {
  bool counts = false;   // the region's financial report or a payment record is there
  float preferred = 0;   // round2(PaymentRatio x Income x JPRatio), summed over the parts
  float local = 0;       // round2(JPRatio x IncomeLocal), summed over the parts
  float localValue = 0;  // JPRatio x IncomeLocal, summed over the parts, not rounded
  float reportLocal = 0; // round2(IncomeLocal), summed over the parts (the year tables)
  float units = 0;       // Units
  int accounts = 0;      // parts with an estimate (lines) or a payment record there
};

// One month of the statement.
struct KVRFinancialMonth {
  KVRMonthKey date;                  // Date
  KVRFinancialsByRegion income;      // Income: preferred currency, selected products
  KVRFinancialsByRegion incomeLocal; // IncomeLocal: report currencies, selected products
  KVRFinancialsByRegion units;       // Units: selected products
  KVRMonthPayments payments;         // Payments (empty when no payment concerns the month)
  // The accounts' parts (none: the month is its own single part).
  std::vector<KVRAccountMonth> parts;
  std::array<KVRRegionFigure, KVRFinancialRegionCount> figures{};  // filled by KVRComputeRegionFigures
};

// Store changes a build asks for; KVRFinancialStatementBuilder::applyStoreChanges
// makes them under the context lock.
struct KVRStatementStoreChanges {
  // Payment reports whose begin date becomes their Payment line's.
  std::vector<std::pair<KVRReport*, KVRDate>> paymentBeginDates;
  // Financial reports put aside (file name beginning with "Zuvo"): deleted
  // with their lines.
  std::vector<KVRReport*> reportsToDelete;
  bool empty() const { return paymentBeginDates.empty() && reportsToDelete.empty(); }
};

// The financial reports of the selected products by month and region.
struct KVRFinancialReportIndex {
  int firstSerial = 0;  // KVRMonthKey::serial() of the first month held
  int monthCount = 0;
  std::vector<KVRReport*> byMonthAndRow;   // monthCount x 19 (row 0 unused)
  std::vector<KVRReport*> androidByMonth;  // monthCount

  // The report of a row (1 to 18), else the Android report of the month; null when none.
  KVRReport* find(KVRMonthKey month, int row) const;
};

class KVRFinancialStatement {
 public:
  // financialsByYear: region row table of every year with financial reports
  // (2010 and 2011, zero, when there is none), ascending.
  std::map<int, KVRRegionRowTable> financialsByYear;
  // displayedFinancialsMonthly: one record per month, ascending, each month once.
  std::vector<KVRFinancialMonth> months;
  KVRStatementStoreChanges storeChanges;
  // The selection is store accounts only (an account row, no product): the
  // trend then compares the money received.
  bool accountsOnly = false;

  // --- Years
  std::vector<int> years() const;
  // The year to show: the one on show when it is still a year of the
  // statement, else the latest.
  int chosenYear(std::optional<int> shownYear) const;
  const KVRRegionRowTable* yearTable(int year) const;

  // --- Months
  // The index of the month's record; when there is none, -1 if a record is
  // at or after the month, else the record count.
  int indexOfMonth(int month, int year) const;
  std::optional<KVRMonthKey> compsForIndex(int index) const;
  const KVRFinancialMonth* monthRecord(KVRMonthKey month) const;
  // The first of the three months on show after a rebuild: the remembered
  // month's index, kept within the records as a month jump keeps it
  // (at most count - 3, at least 0); without one, the last three months.
  int firstShownMonth(std::optional<KVRMonthKey> remembered) const;

  // --- Look-ups
  // The financial report of the selected products for a month and a region
  // code: a report whose file name ends in the region, else an Android report
  // of the month (those answer for every region); null when none. Of several,
  // the earliest (begin date, then id).
  KVRReport* financialReportForMonth(KVRMonthKey month, QStringView regionCode) const;
  // The payment record of a month and region code; null when none.
  const KVRPaymentRecord* dictForDate(KVRMonthKey month, QStringView regionCode) const;
  // The financial reports of the month records first .. first + count - 1
  // (indexes outside the records skipped), regions 1 to 18, each once, in
  // month then region order.
  std::vector<KVRReport*> reportsOfMonths(int first, int count) const;

  // The index (month, region) -> financial report, filled by the builder.
  KVRFinancialReportIndex reportIndex;
};
