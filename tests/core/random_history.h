#pragma once
// Random report and ad lines for a product: daily, weekly and monthly free
// reports, every entry type and sub-type, counts from none to tens of
// thousands, free and paid prices, currencies with and without a rate or an
// amount of their own, a few days covered by daily reports, ad lines.
#include <memory>
#include <random>
#include <vector>

#include "core/KVRCalendar.h"
#include "core/KVREntities.h"
#include "core/KVRVortelyManagedProduct.h"

struct RandomHistory {
  std::vector<std::unique_ptr<KVRManagedObject>> owned;
  std::vector<KVRReport*> accountReports;  // the daily reports of the account
  int64_t nextID = 0;

  template <typename T> T* make() {
    auto o = std::make_unique<T>();
    T* raw = o.get();
    owned.push_back(std::move(o));
    return raw;
  }
  KVRReport* report(int type, KVRCivilDay day) {
    auto* r = make<KVRReport>();
    r->type = type;
    r->beginDate = KVRCalendar::shared().dateFromCivilDay(day);
    return r;
  }

  // mixedCurrencies: now and then a line in another currency than its country's.
  void fill(KVRVortelyManagedProduct* p, std::mt19937& rng, KVRCivilDay first, int days, int lines,
            bool mixedCurrencies = true) {
    static const char* countries[] = {"FR", "DE", "US", "GB", "JP", "ZZ", "ch", "BR", "IT"};
    static const char* currencies[] = {"EUR", "USD", "GBP", "JPY", "XYZ", "USD RoW", "CHF", "EUR", "USD"};
    KVRCalendar& cal = KVRCalendar::shared();
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    for (int d = 0; d < days; d += 1 + pick(9)) accountReports.push_back(report(KVRReportTypeDaily, first + d));
    for (int i = 0; i < lines; ++i) {
      auto* e = make<KVRReportEntry>();
      e->objectID = ++nextID;
      e->product = p;
      const int c = pick(9);
      e->country = QString::fromLatin1(countries[c]);
      // Mostly the country's own currency, sometimes another.
      e->currency = QString::fromLatin1(currencies[pick(6) || !mixedCurrencies ? c : pick(9)]);
      const int types[] = {1, 1, 1, 1, 2, 3, 4, 4, 9};
      e->type = types[pick(9)];
      e->subType = pick(3) ? 0 : pick(7);
      const int sizes = pick(20);
      e->count = sizes == 0 ? 40000 + pick(100) : sizes == 1 ? -pick(5) : sizes == 2 ? 0 : 1 + pick(30);
      const int prices[] = {0, 0, 99, 199, 70, 1, 12345, 99};
      e->income = prices[pick(8)];
      KVRCivilDay day = first + pick(days);
      KVRCivilDay end = day;
      const int kind = pick(12);
      if (kind == 0) {  // weekly report, from a Monday
        day -= (day + 3) % 7;
        end = day + 7;
        e->report = report(KVRReportTypeWeekly, day);
      } else if (kind == 1) {  // monthly free report, the month's first to the next first
        const KVRYMD ymd = KVRYMDFromCivilDay(day);
        day = KVRCivilDayFromYMD(ymd.year, ymd.month, 1);
        end = KVRCivilDayFromYMD(ymd.month == 12 ? ymd.year + 1 : ymd.year, ymd.month == 12 ? 1 : ymd.month + 1, 1);
        e->report = report(KVRReportTypeMonthlyFree, day);
      } else if (kind == 2) {
        e->report = nullptr;  // a line without a report
      } else if (kind == 3) {
        e->report = report(KVRReportTypeFinancial, day);  // not counted
      } else {
        e->report = accountReports[size_t(pick(int(accountReports.size())))];
        day = cal.civilDay(e->report->beginDate);
        end = day;
      }
      e->beginDate = cal.dateFromCivilDay(day);
      e->endDate = cal.dateFromCivilDay(end);
      if (e->report) e->report->entries.push_back(e);
      p->entries.push_back(e);
    }
    for (int i = 0; i < lines / 20; ++i) {
      auto* a = make<KVRiAdReportEntry>();
      a->objectID = ++nextID;
      a->product = p;
      a->country = QString::fromLatin1(countries[pick(4)]);
      a->date = cal.dateFromCivilDay(first + pick(days));
      a->revenue = float(pick(1000)) / 7.0f;
      a->requests = float(pick(5000));
      a->impressions = float(pick(4000));
      a->eCPM = float(pick(300)) / 100.0f;
      a->ctr = float(pick(100)) / 33.0f;
      a->fillRate = float(pick(100));
      p->iAdEntries.push_back(a);
    }
  }
};
