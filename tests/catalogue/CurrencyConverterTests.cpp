#include <QFile>
#include <QSet>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "platform/KVRVortelyLogCenter.h"
#include "platform/KVRUserDefaults.h"

namespace {

using Converter = KVRVortelyCurrencyConverter;

class CurrencyConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Converter::sharedInstance().removeAllRates();
    KVRUserDefaults::standard().removeObjectForKey("PreferedCurrency");
    KVRUserDefaults::standard().removeObjectForKey("FinancialAccounts");
    QFile::remove(Converter::ratesFilePath());
  }
  void TearDown() override { SetUp(); }

  static int logLinesContaining(const QString& text) {
    int n = 0;
    for (const QString& line : KVRVortelyLogCenter::sharedInstance().lines())
      if (line.contains(text)) ++n;
    return n;
  }
};

TEST_F(CurrencyConverterTest, TableCoversEveryMoneyRegionAndTotalsCurrency) {
  const auto& rows = Converter::currencyValues();
  QSet<QString> regions, codes;
  for (const auto& r : rows) {
    EXPECT_FALSE(r.Label.isEmpty());
    EXPECT_EQ(r.Value.size(), 3) << r.Value.toStdString();
    EXPECT_FALSE(r.Symbol.isEmpty());
    regions.insert(r.Region);
    codes.insert(r.Value);
  }
  for (const char* region : {"US", "EU", "CA", "GB", "JP", "AU", "WW", "MX", "NZ", "NO", "CH",
                             "CN", "DK", "SE", "SG", "TW", "HK"})
    EXPECT_TRUE(regions.contains(region)) << region;
  EXPECT_EQ(regions.size(), 17);
  for (const char* code : {"USD", "EUR", "AUD", "CAD", "JPY", "GBP", "CHF", "NOK", "NZD", "MXN",
                           "CNY", "SEK", "DKK"})
    EXPECT_TRUE(codes.contains(code)) << code;
}

TEST_F(CurrencyConverterTest, LookupsAnswerTheFirstMatchingRow) {
  EXPECT_EQ(Converter::currencyRegionForCurrencyValue("USD"), "US");  // US row before WW
  EXPECT_EQ(Converter::currencyValueForCurrencyRegion("WW"), "USD");
  EXPECT_EQ(Converter::currencyRegionForCurrencyValue("EUR"), "EU");
  EXPECT_EQ(Converter::currencySymbolForCurrencyValue("EUR"), QString::fromUtf8("€"));
  EXPECT_EQ(Converter::currencySymbolForCurrencyRegion("US"),
            Converter::currencySymbolForCurrencyValue("USD"));
  EXPECT_EQ(Converter::currencyValueForCurrencyRegion("HK"), "HKD");

  EXPECT_TRUE(Converter::currencyValueForCurrencyRegion("IAD").isNull());
  EXPECT_TRUE(Converter::currencySymbolForCurrencyRegion("IAD").isNull());
  // A raw report code is no table value: its region is unknown.
  EXPECT_TRUE(Converter::currencyRegionForCurrencyValue("USD RoW").isNull());
  EXPECT_TRUE(Converter::currencyRegionForCurrencyValue("").isNull());
  EXPECT_TRUE(Converter::currencySymbolForCurrencyValue("XYZ").isNull());
}

TEST_F(CurrencyConverterTest, RatesAreSymmetricalAndDollarAliasesConvertAsUSD) {
  Converter& c = Converter::sharedInstance();
  EXPECT_EQ(c.rateFrom("GBP", "GBP"), 1.0);
  EXPECT_EQ(c.rateFrom("USD", "EUR"), 0.0);
  c.setRate("USD", "EUR", 0.8);
  EXPECT_DOUBLE_EQ(c.rateFrom("USD", "EUR"), 0.8);
  EXPECT_DOUBLE_EQ(c.rateFrom("EUR", "USD"), 1.0 / 0.8);
  for (const char* alias : {"USD RoW", "USD - RoW", "IAD"}) {
    EXPECT_DOUBLE_EQ(c.rateFrom(alias, "EUR"), 0.8) << alias;
    EXPECT_EQ(c.rateFrom(alias, "USD"), 1.0) << alias;
    EXPECT_EQ(c.convertAmount(10.0, alias, "EUR"), static_cast<double>(8.0f)) << alias;
    EXPECT_EQ(c.floatConvertAmountToPreferedCurrency(10.0f, alias), 8.0f) << alias;
  }
  // A direct rate wins over the reverse one.
  c.setRate("EUR", "USD", 1.3);
  EXPECT_DOUBLE_EQ(c.rateFrom("EUR", "USD"), 1.3);
  // Rates that make no sense forget the pair.
  c.setRate("USD", "EUR", 0.0);
  EXPECT_DOUBLE_EQ(c.rateFrom("USD", "EUR"), 1.0 / 1.3);
  c.setRate("EUR", "USD", std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(c.rateFrom("USD", "EUR"), 0.0);
}

TEST_F(CurrencyConverterTest, ConversionRoundsTheProductToFloat) {
  Converter& c = Converter::sharedInstance();
  c.setRate("JPY", "EUR", 0.0091);
  const double converted = c.convertAmount(1234.56, "JPY", "EUR");
  EXPECT_EQ(converted, static_cast<double>(static_cast<float>(1234.56 * 0.0091)));
  EXPECT_EQ(c.convertAmountToPreferedCurrency(1234.56, "JPY"), static_cast<float>(1234.56 * 0.0091));
  // Equal codes give back the amount itself, untouched by float rounding.
  EXPECT_EQ(c.convertAmount(0.1, "EUR", "EUR"), 0.1);
}

TEST_F(CurrencyConverterTest, MissingPairKeepsTheAmountAndIsLoggedOnce) {
  Converter& c = Converter::sharedInstance();
  KVRUserDefaults::standard().setString("PreferedCurrency", "QQB");
  const QString marker = "from QQA to QQB";
  const int before = logLinesContaining(marker);
  EXPECT_EQ(c.convertAmount(12.5, "QQA", "QQB"), 12.5);
  EXPECT_EQ(c.convertAmountToPreferedCurrency(7.25, "QQA"), 7.25f);
  EXPECT_EQ(c.floatConvertAmountToPreferedCurrency(3.5f, "QQA"), 3.5f);
  EXPECT_EQ(logLinesContaining(marker), before + 1);
  const QStringList lines = KVRVortelyLogCenter::sharedInstance().lines();
  for (const QString& line : lines) {
    if (line.contains(marker)) {
      EXPECT_TRUE(line.contains("Currency Converter"));
    }
  }
  // Equal codes are no missing pair.
  EXPECT_EQ(c.convertAmount(4.0, "QQB", "QQB"), 4.0);
  EXPECT_EQ(logLinesContaining("from QQB to QQB"), 0);
}

TEST_F(CurrencyConverterTest, PreferedCurrencyAndSymbolFollowTheDefault) {
  Converter& c = Converter::sharedInstance();
  EXPECT_EQ(c.preferedCurrency(), "EUR");
  EXPECT_EQ(c.preferedCurrencySymbol(), QString::fromUtf8("€"));
  KVRUserDefaults::standard().setString("PreferedCurrency", "GBP");
  EXPECT_EQ(c.preferedCurrency(), "GBP");
  EXPECT_EQ(c.preferedCurrencySymbol(), QString::fromUtf8("£"));
  KVRUserDefaults::standard().setString("PreferedCurrency", "");
  EXPECT_EQ(c.preferedCurrency(), "EUR");
  EXPECT_EQ(c.preferedCurrencySymbol(), QString::fromUtf8("€"));
  // Any text can sit in the default: one that is no currency of the table
  // falls back to the euro, with one log line per value.
  const int before = logLinesContaining("\"BRL\" is not a known currency");
  KVRUserDefaults::standard().setString("PreferedCurrency", "BRL");
  EXPECT_EQ(c.preferedCurrency(), "EUR");
  EXPECT_EQ(c.preferedCurrencySymbol(), QString::fromUtf8("€"));
  c.setRate("USD", "EUR", 0.5);
  EXPECT_EQ(c.convertAmountToPreferedCurrency(10, "USD"), 5.0f);
  EXPECT_EQ(logLinesContaining("\"BRL\" is not a known currency"), before + 1);
  KVRUserDefaults::standard().setString("PreferedCurrency", "usd");
  EXPECT_EQ(c.preferedCurrency(), "EUR");
}

TEST_F(CurrencyConverterTest, RatesSurviveASaveAndLoad) {
  Converter& c = Converter::sharedInstance();
  c.setRate("USD", "EUR", 0.75);
  c.setRate("GBP", "EUR", 1.125);
  QString error;
  ASSERT_TRUE(c.saveRates(&error)) << error.toStdString();
  c.removeAllRates();
  EXPECT_EQ(c.rateFrom("USD", "EUR"), 0.0);
  c.loadRates();
  EXPECT_EQ(c.rateCount(), 2);
  EXPECT_EQ(c.rateFrom("USD", "EUR"), 0.75);
  EXPECT_EQ(c.rateFrom("GBP", "EUR"), 1.125);
}

TEST_F(CurrencyConverterTest, DamagedRatesFileIsIgnored) {
  Converter& c = Converter::sharedInstance();
  c.setRate("USD", "EUR", 0.75);
  const QString path = Converter::ratesFilePath();
  const auto writeFile = [&](const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
  };
  const int before = logLinesContaining("damaged exchange rates");
  for (const QByteArray& junk :
       {QByteArray("{\"version\":1,\"rates\":{\"USD>EUR\":0.5"), QByteArray("[1,2,3]"),
        QByteArray("\x00\xff\xfe garbage", 11), QByteArray("{\"rates\":\"none\"}")}) {
    writeFile(junk);
    c.loadRates();
    EXPECT_EQ(c.rateFrom("USD", "EUR"), 0.75);  // the cache is kept
  }
  EXPECT_EQ(logLinesContaining("damaged exchange rates"), before + 4);

  // Unreadable entries are skipped, the good ones kept.
  writeFile(R"({"version":1,"rates":{"USD>EUR":0.5,"CAD>EUR":-1,"bad":2,"GBP>EUR":"x","JPY>":3,)"
            R"("NOK>EUR":0,"SEK>EUR":1e-40,"DKK>EUR":2e6,"CHF>EUR":1e-6,"MXN>EUR":null}})");
  c.loadRates();
  EXPECT_EQ(c.rateCount(), 2);
  EXPECT_EQ(c.rateFrom("USD", "EUR"), 0.5);
  EXPECT_EQ(c.rateFrom("CHF", "EUR"), 1e-6);  // exactly 10^6 the other way: still usable

  // No file at all leaves the cache as it is.
  QFile::remove(path);
  c.loadRates();
  EXPECT_EQ(c.rateFrom("USD", "EUR"), 0.5);
}

// Rates that would poison the figures never enter the cache, whichever way
// they come, and nothing converted reads NaN or an infinity.
TEST_F(CurrencyConverterTest, OddRatesAreRefusedAndMissingOnesCountAtOne) {
  Converter& c = Converter::sharedInstance();
  for (double odd : {std::nan(""), HUGE_VAL, -HUGE_VAL, 0.0, -0.5, 1e-40, 1e-7, 1.5e6, 1e300}) {
    c.setRate("SEK", "EUR", odd);
    EXPECT_EQ(c.rateFrom("SEK", "EUR"), 0.0) << odd;
    EXPECT_EQ(c.rateFrom("EUR", "SEK"), 0.0) << odd;
    EXPECT_EQ(c.floatConvertAmountToPreferedCurrency(3e38f, "SEK"), 3e38f) << odd;
    EXPECT_FALSE(Converter::isUsableRate(odd)) << odd;
  }
  c.setRate("SEK", "EUR", 1e6);
  EXPECT_EQ(c.rateFrom("EUR", "SEK"), 1e-6);
  EXPECT_TRUE(std::isfinite(c.convertAmount(1e30, "EUR", "SEK")));
}

// The user is told once, in words, what is wrong with the rates: the file's
// damage, the rates refused, the pairs that had to count at 1.
TEST_F(CurrencyConverterTest, RatesNoticeNamesTheProblemsOnce) {
  Converter& c = Converter::sharedInstance();
  c.resetRatesProblems();
  const QString path = Converter::ratesFilePath();
  const auto writeFile = [&](const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
  };

  // No file and nothing to convert: nothing to tell.
  c.loadRates();
  EXPECT_FALSE(c.takeRatesNotice());
  // No file, and an amount in dollars to convert: the pair and the file.
  EXPECT_EQ(c.rateFromNotingMissing("USD", "EUR"), 0.0);
  auto notice = c.takeRatesNotice();
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->title, "Some exchange rates are missing or damaged");
  EXPECT_TRUE(notice->text.contains("converts USD into EUR")) << notice->text.toStdString();
  EXPECT_TRUE(notice->text.contains("Rates.json")) << notice->text.toStdString();
  EXPECT_TRUE(notice->text.contains("missing"));
  EXPECT_FALSE(c.takeRatesNotice());  // told once

  for (const QByteArray& junk : {QByteArray(""), QByteArray("{\"version\":1,\"rates\":{\"USD>EUR\":0.7"),
                                 QByteArray("{\"version\":1,\"rates\":{\"USD>EUR\":NaN}}")}) {
    c.resetRatesProblems();
    writeFile(junk);
    c.loadRates();
    notice = c.takeRatesNotice();
    ASSERT_TRUE(notice) << junk.toStdString();
    EXPECT_TRUE(notice->text.contains("damaged")) << notice->text.toStdString();
  }

  c.resetRatesProblems();
  writeFile(R"({"version":1,"rates":{"GBP>EUR":1.1,"USD>EUR":1e-40,"JPY>EUR":"0.007"}})");
  c.loadRates();
  c.rateFromNotingMissing("USD", "EUR");
  c.rateFromNotingMissing("GBP", "EUR");
  notice = c.takeRatesNotice();
  ASSERT_TRUE(notice);
  EXPECT_TRUE(notice->text.contains("USD>EUR (too small)")) << notice->text.toStdString();
  EXPECT_TRUE(notice->text.contains("JPY>EUR (not a number)"));
  EXPECT_TRUE(notice->text.contains("converts USD into EUR")) << notice->text.toStdString();
  // A new missing pair is news; what was told is told again with it.
  c.rateFromNotingMissing("JPY", "EUR");
  notice = c.takeRatesNotice();
  ASSERT_TRUE(notice);
  EXPECT_TRUE(notice->text.contains("converts JPY, USD into EUR")) << notice->text.toStdString();
  c.resetRatesProblems();
}

TEST_F(CurrencyConverterTest, ConcurrentUseFromWorkerThreads) {
  Converter& c = Converter::sharedInstance();
  c.setRate("USD", "EUR", 0.5);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (t == 0) c.setRate("GBP", "EUR", 1.0 + (i % 7));
        if (c.floatConvertAmountToPreferedCurrency(2.0f, "USD") != 1.0f) ++wrong;
        c.preferedCurrencySymbol();
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(CurrencyConverterTest, FinancialAccountsFromTheDefaults) {
  EXPECT_FALSE(Converter::sharedInstance().financialAccountWithName("Main").has_value());
  KVRFinancialAccount main{"Main", "J. Doe", "Bank A", "FR76 1234", "Checking", "EUR", true};
  KVRFinancialAccount dollars{"Dollars", "J. Doe", "Bank B", "0042", "Savings", "USD", false};
  KVRFinancialAccount twin{"Main", "Other", "Bank C", "9", "Checking", "GBP", false};
  Converter::setFinancialAccountsDefault({main, dollars, twin});
  KVRUserDefaults::standard().synchronize();

  const auto found = Converter::sharedInstance().financialAccountWithName("Main");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->Bank, "Bank A");  // the first of two with the same label
  EXPECT_EQ(found->Currency, "EUR");
  EXPECT_TRUE(found->CurrencyLocked);
  const auto usd = Converter::sharedInstance().financialAccountWithName("Dollars");
  ASSERT_TRUE(usd.has_value());
  EXPECT_FALSE(usd->CurrencyLocked);
  EXPECT_EQ(usd->Number, "0042");
  EXPECT_FALSE(Converter::sharedInstance().financialAccountWithName("main").has_value());
  EXPECT_FALSE(Converter::sharedInstance().financialAccountWithName(QString()).has_value());
  EXPECT_EQ(Converter::financialAccounts().size(), 3u);

  // Read back from the settings file, where the flag is stored as text.
  const QString ini = qEnvironmentVariable("XDG_CONFIG_HOME") + "/catalogue-tests.ini";
  KVRUserDefaults::standard().useFile(ini);
  Converter::setFinancialAccountsDefault({main, dollars});
  KVRUserDefaults::standard().useFile(ini);
  KVRFinancialAccounts::shared().reload();
  const auto reread = Converter::sharedInstance().financialAccountWithName("Main");
  ASSERT_TRUE(reread.has_value());
  EXPECT_TRUE(reread->CurrencyLocked);
  EXPECT_EQ(reread->Owner, "J. Doe");
  EXPECT_FALSE(Converter::sharedInstance().financialAccountWithName("Dollars")->CurrencyLocked);

  // Foreign values in the array are skipped.
  QVariantList list = Converter::financialAccountsDefault();
  list.prepend(QStringLiteral("not an account"));
  KVRUserDefaults::standard().setArray("FinancialAccounts", list);
  KVRFinancialAccounts::shared().reload();
  EXPECT_EQ(Converter::financialAccounts().size(), 2u);
  EXPECT_EQ(Converter::sharedInstance().financialAccountWithName("Dollars")->Bank, "Bank B");
}

}  // namespace

// The conversions by currency index are made once per change of the rates or
// of the preferred currency, and give the converter's results bit for bit.
TEST_F(CurrencyConverterTest, ConversionsByIndexFollowEachChangeOfRatesAndPreferredCurrency) {
  Converter& c = Converter::sharedInstance();
  c.setRate("JPY", "EUR", 0.0091);
  c.setRate("USD", "EUR", 0.75);
  const int jpy = Converter::currencyIndex("JPY"), rest = Converter::currencyIndex("USD RoW"),
            eur = Converter::currencyIndex("EUR");
  const KVRPreferredRatesRef rates = c.preferredRates();
  EXPECT_EQ(c.preferredRates(), rates);  // nothing changed: the same conversions
  EXPECT_EQ(rates->preferred(), "EUR");
  EXPECT_EQ(rates->preferredSymbol(), QString::fromUtf8("€"));
  EXPECT_EQ(rates->indexOf("JPY"), jpy);
  EXPECT_EQ(rates->convert(1234.56, jpy), static_cast<float>(1234.56 * 0.0091));
  EXPECT_EQ(rates->floatConvert(2.1000011f, jpy), static_cast<float>(double(2.1000011f) * 0.0091));
  EXPECT_EQ(rates->floatConvert(8.0f, rest), 6.0f);  // dollars of the rest of the world
  EXPECT_EQ(rates->floatConvert(0.1f, eur), 0.1f);
  EXPECT_EQ(c.floatConvertAmountToPreferedCurrency(2.1000011f, "JPY"), rates->floatConvert(2.1000011f, jpy));

  // A new rate: new conversions; those already taken keep theirs.
  c.setRate("JPY", "EUR", 0.01);
  const KVRPreferredRatesRef changed = c.preferredRates();
  EXPECT_NE(changed, rates);
  EXPECT_EQ(changed->floatConvert(100.0f, jpy), 1.0f);
  EXPECT_EQ(rates->floatConvert(100.0f, jpy), static_cast<float>(100.0 * 0.0091));

  // Another preferred currency: yen have no rate into pounds and stay as
  // they are, told once in the log.
  KVRUserDefaults::standard().setString("PreferedCurrency", "GBP");
  const KVRPreferredRatesRef pounds = c.preferredRates();
  EXPECT_EQ(pounds->preferred(), "GBP");
  EXPECT_EQ(c.preferedCurrencySymbol(), QString::fromUtf8("£"));
  const int before = logLinesContaining("from JPY to GBP");
  EXPECT_EQ(pounds->floatConvert(3.5f, jpy), 3.5f);
  EXPECT_EQ(pounds->convert(7.25, jpy), 7.25f);
  EXPECT_EQ(c.convertAmountToPreferedCurrency(7.25, "JPY"), 7.25f);
  EXPECT_EQ(logLinesContaining("from JPY to GBP"), before + 1);
  // A code met after they were made converts as the converter does.
  c.setRate("QQD", "GBP", 2.0);
  EXPECT_EQ(pounds->floatConvert(1.5f, pounds->indexOf("QQD")), 3.0f);
}
