#include <gtest/gtest.h>

#include <QByteArray>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <thread>

#include "core/KVRCalendar.h"
#include "core/KVRFormatters.h"
#include "platform/env_scope.h"

namespace {

// Formats in one locale for the test and restores the user's locale after.
class FormattersTest : public ::testing::Test {
 protected:
  void TearDown() override { KVRFormatters::shared().resetLocale(); }
  KVRFormatters& f() { return KVRFormatters::shared(); }
};

const QChar kNarrowNoBreakSpace(0x202F);

}  // namespace

TEST_F(FormattersTest, AmountsWithFloatsHaveNoSymbolNorStraySpace) {
  f().resetLocale(QStringLiteral("en_US"));
  const KVRNumberFormatter& amount = f().currencyFormatterWithFloats();
  EXPECT_EQ(amount.stringFromNumber(1234.5), QStringLiteral("1,234.50"));
  EXPECT_EQ(amount.stringFromNumber(0), QStringLiteral("0.00"));
  EXPECT_EQ(amount.stringFromNumber(-1234.567), QStringLiteral("-1,234.57"));
  EXPECT_EQ(amount.stringFromNumber(0.004), QStringLiteral("0.00"));

  f().resetLocale(QStringLiteral("fr_FR"));
  const QString fr = f().currencyFormatterWithFloats().stringFromNumber(1234.5);
  EXPECT_EQ(fr, QStringLiteral("1") + kNarrowNoBreakSpace + QStringLiteral("234,50"));
  EXPECT_FALSE(fr.contains(QChar(0x20AC)));  // no euro sign
  EXPECT_EQ(fr, fr.trimmed());

  // A locale writing the sign in front with a blank, and one with direction marks.
  for (const char* loc : {"nl_NL", "de_CH", "he_IL", "ja_JP"}) {
    f().resetLocale(QString::fromLatin1(loc));
    const QString text = f().currencyFormatterWithFloats().stringFromNumber(-5);
    EXPECT_EQ(text, text.trimmed()) << loc;
    EXPECT_FALSE(text.contains(QChar(0x00A4))) << loc;
    EXPECT_FALSE(text.contains(QChar(0x20AC)) || text.contains(QChar(0x00A5)) ||
                 text.contains(QStringLiteral("CHF")) || text.contains(QChar(0x20AA)))
        << loc << " " << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("5.00")) || text.endsWith(QStringLiteral("5,00")))
        << loc << " " << text.toStdString();
  }
}

// The form an amount field shows as expected is the one the screens write.
TEST_F(FormattersTest, AmountsInAnotherLocaleHaveTheOneForm) {
  for (const char* loc : {"en_US", "de_DE", "fr_FR", "de_CH", "hi_IN"}) {
    f().resetLocale(QString::fromLatin1(loc));
    EXPECT_STREQ(f().numbersLocale().getName(), loc);
    EXPECT_EQ(KVRFormatters::amountInLocale(1234567.891, icu::Locale(loc)),
              f().currencyFormatterWithFloats().stringFromNumber(1234567.891))
        << loc;
  }
  EXPECT_EQ(KVRFormatters::amountInLocale(1234.5, icu::Locale("de_DE")), QStringLiteral("1.234,50"));
}

TEST_F(FormattersTest, PlainFiguresAreDecimalStyle) {
  f().resetLocale(QStringLiteral("en_US"));
  const KVRNumberFormatter& plain = f().currencyFormatter();
  EXPECT_EQ(plain.stringFromNumber(1234), QStringLiteral("1,234"));
  EXPECT_EQ(plain.stringFromNumber(-3), QStringLiteral("-3"));
  EXPECT_EQ(plain.stringFromNumber(1234.5678), QStringLiteral("1,234.568"));
  f().resetLocale(QStringLiteral("fr_FR"));
  EXPECT_EQ(f().currencyFormatter().stringFromNumber(1234567),
            QStringLiteral("1") + kNarrowNoBreakSpace + QStringLiteral("234") + kNarrowNoBreakSpace +
                QStringLiteral("567"));
}

TEST_F(FormattersTest, PercentagesNeverWriteASign) {
  f().resetLocale(QStringLiteral("en_US"));
  const KVRNumberFormatter& pct = f().currencyFormatterWithPrefixAndFloats();
  EXPECT_EQ(pct.stringFromNumber(12.5), QStringLiteral("12.5"));
  EXPECT_EQ(pct.stringFromNumber(-12.5), QStringLiteral("12.5"));
  EXPECT_EQ(pct.stringFromNumber(-0.126), QStringLiteral("0.13"));
  EXPECT_EQ(pct.stringFromNumber(1500), QStringLiteral("1,500"));
  f().resetLocale(QStringLiteral("fr_FR"));
  EXPECT_EQ(f().currencyFormatterWithPrefixAndFloats().stringFromNumber(-3.14159),
            QStringLiteral("3,14"));
}

TEST_F(FormattersTest, NumberedDatesInLocalTime) {
  // 2011-12-31 23:30 UTC is already 1 January 2012 in Paris (the tests' zone).
  const KVRDate newYear(1325374200000.0);
  f().resetLocale(QStringLiteral("en_US"));
  EXPECT_EQ(f().numberedDateFormatter().stringFromDate(newYear), QStringLiteral("1/1/12"));
  const QString none = f().numberedDateFormatter().stringFromDate(KVRDate());
  EXPECT_TRUE(none.isEmpty());
  f().resetLocale(QStringLiteral("fr_FR"));
  EXPECT_EQ(f().numberedDateFormatter().stringFromDate(newYear), QStringLiteral("01/01/2012"));
}

TEST_F(FormattersTest, SafeWithoutTheCallersLock) {
  f().resetLocale(QStringLiteral("en_US"));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        if (f().currencyFormatterWithFloats().stringFromNumber(i + 0.5) !=
            QString::number(i) + QStringLiteral(".50"))
          ++wrong;
        if (f().numberedDateFormatter().stringFromDate(KVRDate(1325374200000.0)) !=
            QStringLiteral("1/1/12"))
          ++wrong;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Amounts take the separators the locale uses for money, which differ from
// those of plain numbers in some locales.
TEST_F(FormattersTest, AmountsUseTheLocalesMoneySeparators) {
  f().resetLocale(QStringLiteral("fr_CH"));
  EXPECT_EQ(f().currencyFormatterWithFloats().stringFromNumber(1234567.891),
            QStringLiteral("1") + kNarrowNoBreakSpace + QStringLiteral("234") + kNarrowNoBreakSpace +
                QStringLiteral("567.89"));
  EXPECT_EQ(f().currencyFormatter().stringFromNumber(1234.5),
            QStringLiteral("1") + kNarrowNoBreakSpace + QStringLiteral("234,5"));
  f().resetLocale(QStringLiteral("de_AT"));
  EXPECT_EQ(f().currencyFormatterWithFloats().stringFromNumber(-1234567.891), QStringLiteral("-1.234.567,89"));
  f().resetLocale(QStringLiteral("de_CH"));
  EXPECT_EQ(f().currencyFormatterWithFloats().stringFromNumber(1234567.891), QString::fromUtf8("1’234’567.89"));
}

TEST_F(FormattersTest, NonFiniteFiguresReadAsDashes) {
  for (const char* loc : {"en_US", "fr_FR"}) {
    f().resetLocale(QString::fromLatin1(loc));
    for (double v : {std::numeric_limits<double>::quiet_NaN(), HUGE_VAL, -HUGE_VAL}) {
      EXPECT_EQ(f().currencyFormatter().stringFromNumber(v), "--") << loc;
      EXPECT_EQ(f().currencyFormatterWithFloats().stringFromNumber(v), "--") << loc;
      EXPECT_EQ(f().currencyFormatterWithPrefixAndFloats().stringFromNumber(v), "--") << loc;
    }
    EXPECT_NE(f().currencyFormatterWithFloats().stringFromNumber(3.4e38), "--");
  }
}

// Dates are Gregorian whatever calendar the locale prefers, so that a label
// names the day the calendar files the figures under.
TEST_F(FormattersTest, NumberedDatesAreGregorianInEveryLocale) {
  const KVRDate newYear(1325374200000.0);  // 2012-01-01 00:30 in Paris
  f().resetLocale(QStringLiteral("th_TH"));  // Buddhist era: 2555
  EXPECT_EQ(f().numberedDateFormatter().stringFromDate(newYear), QStringLiteral("1/1/12"));
  f().resetLocale(QStringLiteral("ja_JP@calendar=japanese"));  // Heisei 24
  EXPECT_EQ(f().numberedDateFormatter().stringFromDate(newYear), QStringLiteral("2012/01/01"));
  f().resetLocale(QStringLiteral("fa_IR"));  // Persian year 1390
  EXPECT_TRUE(f().numberedDateFormatter().stringFromDate(newYear).contains(QString::fromUtf8("۲۰۱۲")))
      << f().numberedDateFormatter().stringFromDate(newYear).toStdString();
  f().resetLocale(QStringLiteral("ar_SA"));  // Hijri year 1433
  EXPECT_TRUE(f().numberedDateFormatter().stringFromDate(newYear).contains(QString::fromUtf8("٢٠١٢")))
      << f().numberedDateFormatter().stringFromDate(newYear).toStdString();
}

// Figures follow LC_NUMERIC, dates LC_TIME, and LC_ALL both.
TEST_F(FormattersTest, FiguresFollowLcNumericAndDatesLcTime) {
  const KVRDate newYear(1325374200000.0);
  EnvScope lang("LANG", "en_US.UTF-8");
  EnvScope all("LC_ALL", nullptr);
  EnvScope numeric("LC_NUMERIC", "fr_FR.UTF-8");
  EnvScope time("LC_TIME", "de_DE.UTF-8");
  f().resetLocale();
  EXPECT_EQ(f().currencyFormatterWithFloats().stringFromNumber(1234.5),
            QStringLiteral("1") + kNarrowNoBreakSpace + QStringLiteral("234,50"));
  EXPECT_EQ(f().numberedDateFormatter().stringFromDate(newYear), QStringLiteral("01.01.12"));
  EnvScope over("LC_ALL", "en_US.UTF-8");
  f().resetLocale();
  EXPECT_EQ(f().currencyFormatterWithFloats().stringFromNumber(1234.5), QStringLiteral("1,234.50"));
  EXPECT_EQ(f().numberedDateFormatter().stringFromDate(newYear), QStringLiteral("1/1/12"));
}

// One zone for the calendar and the date formatter, also when TZ holds a
// POSIX rule: 2026-07-01 22:30 UTC is 00:30 on 2 July in Central European
// summer time, for both.
TEST_F(FormattersTest, DatesAndCalendarShareTheZoneOfAPosixRule) {
  f().resetLocale(QStringLiteral("en_US"));
  const KVRDate lateEvening(1782945000000.0);  // 2026-07-01 22:30 UTC
  for (const char* tz : {"CET-1CEST,M3.5.0,M10.5.0/3", "<+03>-3"}) {
    SCOPED_TRACE(tz);
    EnvScope scope("TZ", tz);
    KVRCalendar::shared().resetTimeZone();
    EXPECT_EQ(KVRCalendar::shared().civilDay(lateEvening), KVRCivilDayFromYMD(2026, 7, 2));
    EXPECT_EQ(f().numberedDateFormatter().stringFromDate(lateEvening), QStringLiteral("7/2/26"));
    EXPECT_EQ(KVRCalendar::shared().components(KVRHourCalendarUnit, lateEvening).hour, tz[0] == 'C' ? 0 : 1);
  }
  KVRCalendar::shared().resetTimeZone();
  EXPECT_EQ(f().numberedDateFormatter().stringFromDate(lateEvening), QStringLiteral("7/2/26"));  // Paris
  KVRCalendar::shared().resetTimeZone(QStringLiteral("America/New_York"));
  EXPECT_EQ(f().numberedDateFormatter().stringFromDate(lateEvening), QStringLiteral("7/1/26"));
  KVRCalendar::shared().resetTimeZone();
}
