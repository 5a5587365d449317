// The statement of the demo sample: the builder agrees bit for bit with the
// reference builder for every kind of selection, and the sample holds every
// case the financial screen shows.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"
#include "core/KVRFormatters.h"
#include "core/fake_selection.h"
#include "financial/KVRFinancialFigures.h"
#include "financial/KVRFinancialStatementBuilder.h"
#include "financial/KVRVortelyReportsController.h"
#include "reference_builder.h"
#include "statement_fixture.h"
#include "sampledata/KVRDatabaseSampleData.h"

namespace {

KVRVortelyCoreDataManager& dm() { return KVRVortelyCoreDataManager::sharedInstance(); }
const KVRDate kNow(1.34e12);

KVRFinancialSelection accounts(std::vector<KVRStoreAccount*> list) {
  KVRFinancialSelection s;
  for (KVRStoreAccount* a : list) s.products.insert(s.products.end(), a->products.begin(), a->products.end());
  s.accounts = std::move(list);
  s.accountSelected = true;
  return s;
}

KVRFinancialSelection products(std::vector<KVRVortelyManagedProduct*> list) {
  KVRFinancialSelection s;
  for (KVRVortelyManagedProduct* p : list)
    if (std::find(s.accounts.begin(), s.accounts.end(), p->account) == s.accounts.end()) s.accounts.push_back(p->account);
  s.products = std::move(list);
  s.productsSelected = true;
  return s;
}

}  // namespace

class StatementSampleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<QTemporaryDir>();
    KVRCalendar::shared().resetTimeZone("Europe/Paris");
    KVRSampleDataOptions o;
    o.size = KVRSampleDataSize::Demo;
    o.seed = 3;
    o.outFolder = dir_->filePath("support");
    o.lastDay = KVRCivilDayFromYMD(2012, 6, 30);
    QString error;
    ASSERT_TRUE(KVRGenerateSampleData(o, nullptr, &error)) << error.toStdString();
    ASSERT_TRUE(dm().openStore(o.outFolder + "/Vortely.sqlite", &error)) << error.toStdString();
  }
  static void TearDownTestSuite() {
    dm().closeStore();
    KVRVortelyCurrencyConverter::sharedInstance().removeAllRates();
    KVRVortelyCurrencyConverter::setFinancialAccountsDefault({});
    KVRCalendar::shared().resetTimeZone();
    dir_.reset();
  }

  static KVRStoreAccount* accountNamed(const char* name) {
    for (KVRStoreAccount* a : dm().accounts())
      if (a->name == QLatin1String(name)) return a;
    return nullptr;
  }

  static void expectSameAsReference(const KVRFinancialSelection& s, const char* what) {
    const KVRFinancialStatement fast = KVRFinancialStatementBuilder().build(s, kNow);
    EXPECT_EQ(reference::difference(fast, reference::build(s, kNow)), "") << what;
    EXPECT_FALSE(fast.months.empty()) << what;
  }

  static std::unique_ptr<QTemporaryDir> dir_;
};
std::unique_ptr<QTemporaryDir> StatementSampleTest::dir_;

TEST_F(StatementSampleTest, BuilderAgreesWithReferenceForEverySelection) {
  const std::vector<KVRStoreAccount*> all = dm().accounts();
  expectSameAsReference(accounts(all), "everything");
  for (KVRStoreAccount* a : all) expectSameAsReference(accounts({a}), qPrintable(a->name));
  KVRStoreAccount* soft = accountNamed("Pelliro Soft");
  KVRStoreAccount* editions = accountNamed("Pelliro Editions");
  KVRStoreAccount* android = accountNamed("Pelliro on Android");
  ASSERT_TRUE(soft && editions && android);
  expectSameAsReference(products({soft->products.front()}), "one product");
  expectSameAsReference(products({soft->products.back(), editions->products.front(), android->products.front()}),
                        "products of three accounts");
  KVRFinancialSelection noRowAccount = accounts({soft, editions});
  noRowAccount.accountSelected = false;
  expectSameAsReference(noRowAccount, "two accounts, no account row");
}

TEST_F(StatementSampleTest, AfterTheStoreChangesTheStatementStillAgrees) {
  const KVRFinancialSelection everything = accounts(dm().accounts());
  const KVRFinancialStatement first = KVRFinancialStatementBuilder().build(everything, kNow);
  EXPECT_TRUE(KVRFinancialStatementBuilder().applyStoreChanges(first.storeChanges));
  const KVRFinancialStatement second = KVRFinancialStatementBuilder().build(everything, kNow);
  EXPECT_TRUE(second.storeChanges.empty());
  EXPECT_EQ(reference::difference(first, second), "reports to delete");
  EXPECT_EQ(reference::difference(second, reference::build(everything, kNow)), "");
}

// Several accounts: each account's figures are its own, the selection's cell
// their sum; a cell is reconciled only when every account with an estimate or
// a payment there is.
TEST_F(StatementSampleTest, AllAccountsCellIsTheSumOfTheAccountsCells) {
  const std::vector<KVRStoreAccount*> all = dm().accounts();
  ASSERT_GE(all.size(), 2u);
  const KVRFinancialStatement together = KVRFinancialStatementBuilder().build(accounts(all), kNow);
  std::vector<KVRFinancialStatement> alone;
  std::vector<KVRStoreAccount*> byId = all;
  std::stable_sort(byId.begin(), byId.end(), [](const KVRStoreAccount* a, const KVRStoreAccount* b) {
    return a->objectID < b->objectID;
  });
  for (KVRStoreAccount* a : byId) alone.push_back(KVRFinancialStatementBuilder().build(accounts({a}), kNow));

  int cells = 0, paidAndWaiting = 0, received = 0;
  for (const KVRFinancialMonth& m : together.months) {
    for (int row = 1; row < KVRFinancialRegionCount; ++row) {
      const QString code = KVRFinancialRegionCode(row);
      float preferred = 0, local = 0, units = 0;
      bool anyThere = false, everyReceived = true, someReceived = false;
      for (const KVRFinancialStatement& st : alone) {
        const KVRFinancialMonth* own = st.monthRecord(m.date);
        if (!own) continue;
        const KVRRegionFigure& f = own->figures[size_t(row)];
        preferred += f.preferred;
        local += f.local;
        units += f.units;
        const KVRPaymentRecord* record = own->payments.forCode(code);
        // An estimate there: the account's lines in the region (an Android
        // report answers for every region, with lines in some).
        const bool estimate = !own->parts.empty() && ((own->parts.front().estimateRows >> row) & 1u);
        if (!record && !estimate) continue;
        anyThere = true;
        const bool reconciled = record && record->isReconciled();
        everyReceived = everyReceived && reconciled;
        someReceived = someReceived || reconciled;
      }
      const KVRRegionFigure& f = m.figures[size_t(row)];
      EXPECT_FLOAT_BITS(f.preferred, preferred) << m.date.year << "-" << m.date.month << " " << code.toStdString();
      EXPECT_FLOAT_BITS(f.local, local);
      EXPECT_FLOAT_EQ(f.units, units);
      const KVRPaymentRecord* shown = m.payments.forCode(code);
      EXPECT_EQ(shown && shown->isReconciled(), anyThere && everyReceived)
          << m.date.year << "-" << m.date.month << " " << code.toStdString();
      ++cells;
      paidAndWaiting += someReceived && !everyReceived;
      received += anyThere && everyReceived && shown;
    }
  }
  EXPECT_GT(cells, 400);
  EXPECT_GT(paidAndWaiting, 0);  // one account paid, another not
  EXPECT_GT(received, 0);
}

namespace {

// round2 of a figure, in hundredths.
int64_t cents(float x) { return int64_t(x >= 0 ? x * 100.0f + 0.5f : x * 100.0f - 0.5f); }

// The hundredths an en_US amount text shows ("1,234.56 €").
int64_t centsOfText(const QString& text) {
  QString number = text.section(u' ', 0, 0);
  number.remove(u',');
  bool ok = false;
  const double v = number.toDouble(&ok);
  return ok ? std::llround(v * 100.0) : std::numeric_limits<int64_t>::min();
}

}  // namespace

// Every selection walked as a user clicks: every month window, currency mode
// and cell. The grid cell, the details panel and the trend show the cell's
// one figure, each amount text its round2.
TEST_F(StatementSampleTest, EveryCellShowsItsOneFigureInGridPanelAndTrend) {
  KVRFormatters::shared().resetLocale(QStringLiteral("en_US"));
  FakeSelection services;
  services.install();
  KVRVortelyReportsController c(&services);
  c.setDatabaseSaver([](QString*) { return true; });
  c.setClock([] { return kNow; });
  c.setFinancialAccountsProvider([] { return std::vector<KVRFinancialAccount>{{"Bank", "", "", "", "", "EUR", false}}; });

  struct Choice {
    std::string name;
    KVRFinancialSelection selection;
  };
  std::vector<Choice> choices;
  for (KVRStoreAccount* a : dm().accounts()) choices.push_back({a->name.toStdString(), accounts({a})});
  choices.push_back({"all accounts", accounts(dm().accounts())});
  KVRStoreAccount* soft = accountNamed("Pelliro Soft");
  KVRStoreAccount* editions = accountNamed("Pelliro Editions");
  ASSERT_TRUE(soft && editions && soft->products.size() >= 2);
  choices.push_back({"products", products({soft->products[0], soft->products[1], editions->products.front()})});

  int checkedTrends = 0, severalAccounts = 0;
  for (const Choice& choice : choices) {
    SCOPED_TRACE(choice.name);
    services.selected = choice.selection.productsSelected ? choice.selection.products : std::vector<KVRVortelyManagedProduct*>{};
    services.extended = choice.selection.products;
    services.accounts = choice.selection.accounts;
    services.accountSelected = choice.selection.accountSelected;
    // The reference reads the store before the rebuild makes its changes.
    const KVRFinancialStatement expected = reference::build(choice.selection, kNow);
    c.selectedProductDidChange(true);
    const KVRFinancialStatement& st = c.statement();
    EXPECT_EQ(reference::difference(st, expected), "");
    const bool accountsOnly = choice.selection.accountSelected && !choice.selection.productsSelected;
    ASSERT_EQ(st.accountsOnly, accountsOnly);
    const int count = int(st.months.size());
    ASSERT_GE(count, 3);
    for (int mode = 0; mode < 3; ++mode) {
      c.setCurrencyMode(mode);
      while (c.selectedMonth() > 0) c.previousMonth();
      for (int first = 0; first + 3 <= count; ++first, c.nextMonth()) {
        ASSERT_EQ(c.selectedMonth(), first);
        for (int row = 1; row < KVRFinancialRegionCount; ++row) {
          for (int column = 1; column <= 3; ++column) {
            const int index = KVRFinancialGrid::indexOf(row, column);
            c.setSelectedFinancialsValues(KVRIndexSet{index});
            const KVRFinancialValue& v = *c.grid().value(index);
            if (v.kind != KVRFinancialCellKind::month) continue;
            const int m = first + column - 1;
            const KVRFinancialMonth& month = st.months[size_t(m)];
            const KVRRegionFigure& f = month.figures[size_t(row)];
            // One figure: grid and panel, each text its round2.
            EXPECT_EQ(c.details().income, v.incomePref);
            EXPECT_EQ(c.details().incomeLocal, v.incomeLocal);
            ASSERT_EQ(centsOfText(v.incomePref), cents(f.preferred));
            ASSERT_EQ(centsOfText(v.incomeLocal), cents(f.local));
            // A payment belongs to one account: with several there, no
            // reconcile or create control.
            if (v.severalAccounts) {
              EXPECT_TRUE(c.details().reconcileButton.hidden);
              EXPECT_TRUE(c.details().amountField.hidden);
              ++severalAccounts;
            }
            if (m == 0) continue;
            // The trend's current figure.
            float current = 0;
            if (!accountsOnly) {
              current = KVRFigureInMode(f, mode);
            } else {
              const QString code = KVRFinancialRegionCode(row);
              for (const KVRAccountMonth& part : month.parts) {
                const KVRPaymentRecord* r = part.payments.forCode(code);
                const float j = r ? r->jpRatioOrOne() : 1.0f;
                if (mode == 2) current += part.units[row];
                else if (part.payments.empty()) current += (mode == 0 ? part.income[row] : part.incomeLocal[row]) * j;
                else if (!r) current += 0.0f;
                else if (mode == 1) current += r->localIncome;
                else current += r->isReconciled() ? r->pointedIncome : part.income[row] * j;
              }
            }
            const KVRFinancialTrend& t = c.trend();
            if (mode == 2) {
              EXPECT_EQ(t.current, current);
            } else {
              EXPECT_EQ(cents(t.current), cents(current)) << row << " " << m;
              if (!t.currentDayValueRight.isEmpty()) {
                EXPECT_EQ(centsOfText(t.currentDayValueRight), cents(current));
              }
            }
            ++checkedTrends;
          }
        }
        // The totals: the sum of the regions that count.
        for (int column = 0; column < 3; ++column) {
          const KVRFinancialValue& total = *c.grid().total(column);
          const KVRFinancialMonth& month = st.months[size_t(first + column)];
          float sum = 0;
          for (int row = 1; row < KVRFinancialRegionCount; ++row)
            if (month.figures[size_t(row)].counts) sum += month.figures[size_t(row)].preferred;
          EXPECT_EQ(total.totalAmount.value_or(-1), sum);
          if (mode != 2) { EXPECT_EQ(centsOfText(total.income), cents(sum)); }
        }
      }
    }
  }
  EXPECT_GT(checkedTrends, 1000);
  EXPECT_GT(severalAccounts, 100);
  services.uninstall();
  KVRFormatters::shared().resetLocale();
}
