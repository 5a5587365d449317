#pragma once
// Financial statements made in memory for the screen's presenters: months
// with their region figures, payment records and the report index, without
// a store.
#include <deque>
#include <memory>

#include <algorithm>
#include <optional>

#include "core/KVREntities.h"
#include "financial/KVRFinancialFigures.h"
#include "financial/KVRFinancialGrid.h"
#include "financial/KVRFinancialStatement.h"

class StatementMaker {
 public:
  // The month's record (made, in order, when missing).
  KVRFinancialMonth& month(KVRMonthKey key) {
    auto it = std::lower_bound(st_.months.begin(), st_.months.end(), key,
                               [](const KVRFinancialMonth& m, const KVRMonthKey& k) { return m.date < k; });
    if (it == st_.months.end() || it->date != key) {
      KVRFinancialMonth m;
      m.date = key;
      it = st_.months.insert(it, std::move(m));
    }
    return *it;
  }
  // A region's figures in a month (added to the all-regions slot too), with
  // its financial report.
  KVRReport* figures(KVRMonthKey key, int row, float preferred, float local, float units = 0) {
    KVRFinancialMonth& m = month(key);
    m.income.income()[size_t(row)] += preferred;
    m.income.income()[0] += preferred;
    m.incomeLocal.income()[size_t(row)] += local;
    m.incomeLocal.income()[0] += local;
    m.units.income()[size_t(row)] += units;
    return report(key, row);
  }
  // A financial report of a month and region, without figures.
  KVRReport* report(KVRMonthKey key, int row) {
    month(key);
    reports_.emplace_back();
    KVRReport* r = &reports_.back();
    r->type = 4;
    indexed_.push_back({key, row, r});
    return r;
  }
  // A payment record of a region in a month: the payment form with a report
  // when `paymentForm`, else a prior-month form paid in `paidIn`.
  std::shared_ptr<KVRPaymentRecord> payment(KVRMonthKey key, int row, bool paymentForm = true,
                                            std::optional<KVRMonthKey> paidIn = std::nullopt) {
    auto p = std::make_shared<KVRPaymentRecord>();
    if (paymentForm) {
      reports_.emplace_back();
      p->paymentReport = &reports_.back();
      p->paymentMonth = key;
      p->jpRatio = 1.0f;
    } else {
      p->paymentMonth = paidIn;
    }
    month(key).payments.set(KVRFinancialRegionCode(row), p);
    return p;
  }
  // The statement, its index made.
  const KVRFinancialStatement& statement() {
    KVRFinancialReportIndex& index = st_.reportIndex;
    index = KVRFinancialReportIndex();
    if (!indexed_.empty()) {
      int first = indexed_.front().month.serial(), last = first;
      for (const auto& e : indexed_) {
        first = std::min(first, e.month.serial());
        last = std::max(last, e.month.serial());
      }
      index.firstSerial = first;
      index.monthCount = last - first + 1;
      index.byMonthAndRow.assign(size_t(index.monthCount) * KVRFinancialRegionCount, nullptr);
      index.androidByMonth.assign(size_t(index.monthCount), nullptr);
      for (const auto& e : indexed_)
        index.byMonthAndRow[size_t(e.month.serial() - first) * KVRFinancialRegionCount + size_t(e.row)] = e.report;
    }
    if (st_.financialsByYear.empty())
      for (const KVRFinancialMonth& m : st_.months) st_.financialsByYear[m.date.year] = KVRMakeRegionRowTable();
    st_.accountsOnly = accountsOnly_;
    KVRComputeRegionFigures(st_);
    return st_;
  }
  // The statement of a product selection (the trend compares the cells), not of an account.
  void productsSelected() { accountsOnly_ = false; }
  // The region grid of the statement's month window from `selectedMonth`,
  // the euro preferred.
  KVRFinancialGrid grid(int selectedMonth, int mode, bool productsSelected = false, bool accountSelected = true) {
    const KVRRegionRowTable rows = KVRMakeRegionRowTable();
    KVRFinancialGridInput in;
    in.statement = &statement();
    in.rows = &rows;
    in.selectedMonth = selectedMonth;
    in.currencyMode = mode;
    in.productsSelected = productsSelected;
    in.accountSelected = accountSelected;
    in.preferredSymbol = QStringLiteral("€");
    return KVRBuildFinancialGrid(in);
  }

 private:
  struct Indexed {
    KVRMonthKey month;
    int row;
    KVRReport* report;
  };
  KVRFinancialStatement st_;
  bool accountsOnly_ = true;
  std::deque<KVRReport> reports_;
  std::vector<Indexed> indexed_;
};
