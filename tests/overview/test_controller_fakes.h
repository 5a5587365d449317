#pragma once
// Fakes for the overview controller tests: the application delegate's
// selection, the screen's controls, and hand-made product histories.
#include <QString>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "core/KVRApplicationServices.h"
#include "core/KVRCalendar.h"
#include "core/KVRProductValues.h"
#include "core/KVRVortelyManagedProduct.h"
#include "core/fake_selection.h"
#include "overview/KVROverviewTypes.h"

namespace overview_test {

inline KVRDate day(int y, int m, int d) {
  return KVRCalendar::shared().dateFromComponents(KVRDateComponents::ymd(y, m, d));
}
inline KVRCivilDay civil(int y, int m, int d) { return KVRCivilDayFromYMD(y, unsigned(m), unsigned(d)); }

class FakeServices : public FakeSelection {
 public:
  int refreshCount = 0;

  void refreshProductsList() override { ++refreshCount; }
  bool roundCurrencyValues() override { return false; }
};

class FakeControls : public KVRResumeControls {
 public:
  int valueTag = 0;
  std::set<int> disabledValueItems;
  bool valuePopUpEnabled = true, regionPopUpEnabled = true, periodPopUpEnabled = true;
  int regionTag = -1;
  int shownPeriod = 0;
  int cumulativeSegment = 0;
  bool cumulativeEnabled[2] = {true, true};
  bool cumulativeControlEnabled = true;
  int combineSegment = 0;
  bool combineEnabled[2] = {true, true};
  bool combineControlEnabled = true;
  KVRDate startPicker, endPicker;
  bool pickersEnabled = true;
  QString trend, productName, reportsDates, revenues, currencySymbol, income, sales, upgrades;
  int graphRedraws = 0, chartRedraws = 0, counterResets = 0, clears = 0, boxes = 0;
  bool perProductCurves = false;
  std::vector<KVRLoadResults> displays;

  int selectedValueTag() const override { return valueTag; }
  void selectValueTag(int tag) override { valueTag = tag; }
  bool isValueItemEnabled(int tag) const override { return !disabledValueItems.count(tag); }
  void setValueItemEnabled(int tag, bool e) override {
    if (e) disabledValueItems.erase(tag); else disabledValueItems.insert(tag);
  }
  bool isValuePopUpEnabled() const override { return valuePopUpEnabled; }
  void setValuePopUpEnabled(bool e) override { valuePopUpEnabled = e; }
  int selectedRegionTag() const override { return regionTag; }
  void selectFirstRegionItem() override { regionTag = -1; }
  void setRegionPopUpEnabled(bool e) override { regionPopUpEnabled = e; }
  void showPeriodTag(int tag) override { shownPeriod = tag; }
  void setPeriodPopUpEnabled(bool e) override { periodPopUpEnabled = e; }
  int cumulativeSelectedSegment() const override { return cumulativeSegment; }
  void selectCumulativeSegment(int s) override { cumulativeSegment = s; }
  void setCumulativeSegmentEnabled(int s, bool e) override { cumulativeEnabled[s] = e; }
  void setCumulativeControlEnabled(bool e) override { cumulativeControlEnabled = e; }
  int combineSelectedSegment() const override { return combineSegment; }
  void selectCombineSegment(int s) override { combineSegment = s; }
  void setCombineSegmentEnabled(int s, bool e) override { combineEnabled[s] = e; }
  void setCombineControlEnabled(bool e) override { combineControlEnabled = e; }
  void setStartPickerDate(KVRDate d) override { startPicker = d; }
  void setEndPickerDate(KVRDate d) override { endPicker = d; }
  void setPickersEnabled(bool e) override { pickersEnabled = e; }
  void setTrendLabel(const QString& t) override { trend = t; }
  void setProductNameLabel(const QString& t) override { productName = t; }
  void setReportsDatesLabel(const QString& t) override { reportsDates = t; }
  void setRevenuesLabel(const QString& t) override { revenues = t; }
  void setProductCurrencySymbol(const QString& s) override { currencySymbol = s; }
  void setProductTotalIncomeLabel(const QString& t) override { income = t; }
  void setProductTotalSalesLabel(const QString& t) override { sales = t; }
  void setProductTotalUpgradesLabel(const QString& t) override { upgrades = t; }
  void redrawGraph() override { ++graphRedraws; }
  void redrawCharts() override { ++chartRedraws; }
  void resetCounter() override { ++counterResets; }
  void clearCurvesAndCharts() override { ++clears; }
  bool hasPerProductCurves() const override { return perProductCurves; }
  void displayLoad(const KVRLoadResults& r) override { displays.push_back(r); }
  void updateBoxes() override { ++boxes; }
};

// A hand-built history: value key -> civil day -> record.
struct HistoryBuilder {
  std::map<QString, std::map<KVRCivilDay, KVRTotalsStruct>> days;

  KVRTotalsStruct& at(const QString& valueKey, KVRCivilDay d) { return days[valueKey][d]; }
  HistoryBuilder& sales(const QString& valueKey, KVRCivilDay d, float v) {
    at(valueKey, d).sales = v;
    return *this;
  }
  std::shared_ptr<KVRProductValues> build() const {
    auto values = std::make_shared<KVRProductValues>();
    for (const auto& [key, byDay] : days) {
      KVRValueSeries s;
      s.valueKey = key;
      s.region = key.section(QLatin1Char('-'), 0, 0);
      s.country = key.section(QLatin1Char('-'), 1, 1);
      for (const auto& [d, rec] : byDay) {
        s.days.push_back(d);
        s.records.push_back(rec);
      }
      values->series.push_back(std::move(s));
    }
    std::sort(values->series.begin(), values->series.end(),
              [](const KVRValueSeries& a, const KVRValueSeries& b) { return a.valueKey < b.valueKey; });
    return values;
  }
};

// Products owned by the test (not by the data manager's context).
struct ProductStore {
  std::vector<std::unique_ptr<KVRVortelyManagedProduct>> products;
  std::vector<std::unique_ptr<KVRStoreAccount>> accounts;

  KVRStoreAccount* account(const QString& name) {
    accounts.push_back(std::make_unique<KVRStoreAccount>());
    accounts.back()->name = name;
    return accounts.back().get();
  }
  KVRVortelyManagedProduct* product(int64_t idStore, const QString& name, KVRStoreAccount* account = nullptr) {
    products.push_back(std::make_unique<KVRVortelyManagedProduct>());
    KVRVortelyManagedProduct* p = products.back().get();
    p->idStore = idStore;
    p->name = name;
    p->account = account;
    if (account) account->products.push_back(p);
    return p;
  }
};

}  // namespace overview_test
