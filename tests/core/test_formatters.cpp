#include <gtest/gtest.h>

#include <thread>

#include "core/KVRFormatters.h"

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
