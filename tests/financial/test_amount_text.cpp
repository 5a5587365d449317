// Reading the amount the user types as received, and the amounts the
// application writes itself, in the user's locale.
#include <gtest/gtest.h>

#include "core/KVRFormatters.h"
#include "financial/KVRAmountText.h"
#include "platform/KVRICUSupport.h"

namespace {

std::optional<double> typed(const QString& text, const char* locale) {
  return KVRReadAmountText(text, KVRAmountTextVariant::typed, icu::Locale(locale)).value;
}

TEST(AmountText, TypedAmountsInTheUsersLocale) {
  EXPECT_EQ(typed("12.5abc", "en_US"), 12.5);
  EXPECT_EQ(typed("1'000", "en_US"), 1000.0);
  EXPECT_EQ(typed("1,234.56 $", "en_US"), 1234.56);
  EXPECT_EQ(typed("  150 ", "en_US"), 150.0);
  EXPECT_EQ(typed("-3.5", "en_US"), -3.5);
  EXPECT_EQ(typed("1.234,56 €", "de_DE"), 1234.56);
  EXPECT_EQ(typed("12,5abc", "de_DE"), 12.5);
  // A point that groups nothing is a decimal point, even in German.
  EXPECT_EQ(typed("12.5", "de_DE"), 12.5);
  EXPECT_EQ(typed("1,234.56", "de_DE"), 1234.56);
  EXPECT_EQ(typed(QString::fromUtf8("1\u202F234,56 €"), "fr_FR"), 1234.56);
  EXPECT_EQ(typed(QString::fromUtf8("1\u00A0234,56"), "fr_FR"), 1234.56);
  EXPECT_EQ(typed(QString::fromUtf8("1’234.50"), "de_CH"), 1234.5);
}

TEST(AmountText, SymbolsThatHoldAnotherGoWhole) {
  EXPECT_EQ(typed("A$ 12.00", "en_US"), 12.0);
  EXPECT_EQ(typed("CA$1,000.00", "en_US"), 1000.0);
  EXPECT_EQ(typed("HK$5", "en_US"), 5.0);
  EXPECT_EQ(typed(QString::fromUtf8("CN¥ 88"), "en_US"), 88.0);
}

TEST(AmountText, TextsWithoutAFiniteNumberAreRefusedWithAReason) {
  for (const char* text : {"abc", "nan", "NaN", "", "   ", "$", "inf", "∞"}) {
    const KVRAmountReading r = KVRReadAmountText(QString::fromUtf8(text), KVRAmountTextVariant::typed,
                                                 icu::Locale("en_US"));
    EXPECT_FALSE(r.ok()) << text << " read as " << r.value.value_or(0);
    EXPECT_FALSE(r.error.isEmpty()) << text;
  }
  const KVRAmountReading abc = KVRReadAmountText("abc", KVRAmountTextVariant::typed, icu::Locale("en_US"));
  EXPECT_TRUE(abc.error.contains("abc")) << abc.error.toStdString();
}

// What the application writes ("amount symbol", with the locale's money
// separators) reads back as the same amount, in either variant.
TEST(AmountText, TheApplicationsOwnAmountsReadBack) {
  for (const char* locale : {"en_US", "de_DE", "fr_FR", "de_CH", "fr_CH", "de_AT", "hi_IN", "ar_EG", "ja_JP"}) {
    KVRFormatters::shared().resetLocale(QString::fromLatin1(locale));
    for (double amount : {1234.56, -98765.43, 0.5, 1234567.89}) {
      const QString text =
          KVRFormatters::shared().currencyFormatterWithFloats().stringFromNumber(amount) + QStringLiteral(" €");
      for (KVRAmountTextVariant v : {KVRAmountTextVariant::typed, KVRAmountTextVariant::formatted}) {
        const KVRAmountReading r = KVRReadAmountText(text, v, icu::Locale(locale));
        ASSERT_TRUE(r.ok()) << locale << " " << text.toStdString();
        EXPECT_NEAR(*r.value, amount, 1e-9) << locale << " " << text.toStdString();
      }
    }
  }
  KVRFormatters::shared().resetLocale();
}

}  // namespace
