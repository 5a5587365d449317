// The one reader of the amounts the user types: the whole text is one number
// of the locale, within the range of its field, or it is refused with a
// message that shows the form expected.
#include <gtest/gtest.h>

#include "core/KVRFormatters.h"
#include "financial/KVRAmountText.h"
#include "platform/KVRICUSupport.h"

namespace {

KVRAmountReading read(const QString& text, const char* locale, KVRAmountKind kind = KVRAmountKind::any) {
  return KVRReadAmountText(text, kind, icu::Locale(locale));
}

TEST(AmountText, TheWholeTextIsOneNumberOfTheLocale) {
  struct Accepted {
    const char* text;
    const char* locale;
    double value;
  };
  for (const Accepted& a : std::initializer_list<Accepted>{
           {"1,234.56", "en_US", 1234.56},
           {"1.234,56 €", "de_DE", 1234.56},
           {"1\u202F234,56", "fr_FR", 1234.56},
           {"1 234,56 €", "fr_FR", 1234.56},   // a plain blank groups as well
           {"  150 ", "en_US", 150.0},
           {"1'000", "en_US", 1000.0},           // an apostrophe groups
           {"1 234.56", "en_US", 1234.56},       // and so does a blank
           {"1’234.50", "de_CH", 1234.5},
           {"CA$1,000.00", "en_US", 1000.0},     // the longer symbol goes whole
           {"-$5", "en_US", -5.0},
           {"EUR 1,234.56", "en_US", 1234.56},   // or its code
           {"1,234.00 XYZ", "en_US", 1234.0},
           {"12,34,567.25", "hi_IN", 1234567.25},
           {"1,234,567.25", "en_IN", 1234567.25},  // groups of three read in India too
           {"12,34,567.25", "en_US", 1234567.25},  // and those of two elsewhere
       }) {
    const KVRAmountReading r = read(QString::fromUtf8(a.text), a.locale);
    ASSERT_TRUE(r.ok()) << a.text << " in " << a.locale << ": " << r.error.toStdString();
    EXPECT_EQ(*r.value, a.value) << a.text << " in " << a.locale;
  }

  // An exponent, something left over, no number, the other convention, a
  // group in the wrong place: refused, with the form of the locale.
  for (const char* text : {"1e400", "12.5abc", "abc", "nan", "inf", "∞", "1.234,56", "12,5", "12 5", "1,2,3",
                           "1,23,4", "1,234.5,6", "1,234.56 €x", "", " $ "}) {
    const KVRAmountReading r = read(QString::fromUtf8(text), "en_US");
    EXPECT_FALSE(r.ok()) << text << " read as " << r.value.value_or(0);
    EXPECT_TRUE(r.error.contains("1,234.56")) << text << ": " << r.error.toStdString();
  }
  const KVRAmountReading german = read("1,234.56", "de_DE");
  EXPECT_FALSE(german.ok());
  EXPECT_EQ(german.error, "“1,234.56” is not an amount. Type it as 1.234,56.");
  EXPECT_FALSE(read("12.5", "de_DE").ok());  // a point groups thousands there

  // Out of range: a magnitude that no amount reaches, however written.
  EXPECT_FALSE(read(QString(400, u'9'), "en_US").ok());
  EXPECT_FALSE(read("1,000,000,000,000", "en_US").ok());
  EXPECT_TRUE(read("999,999,999,999.99", "en_US").ok());
}

TEST(AmountText, EachFieldRefusesWhatLiesOutsideItsRange) {
  for (const char* text : {"-5", "0", "0.00", "0.004", "-0"}) {
    const KVRAmountReading r = read(QString::fromUtf8(text), "en_US", KVRAmountKind::received);
    EXPECT_FALSE(r.ok()) << text;
    EXPECT_EQ(r.error, "The amount received must be above zero.") << text;
  }
  EXPECT_EQ(read("0.01", "en_US", KVRAmountKind::received).value, 0.01);

  const KVRAmountReading cost = read("-5", "en_US", KVRAmountKind::cost);
  EXPECT_FALSE(cost.ok());
  EXPECT_EQ(cost.error, "A cost cannot be negative: type 0 or more.");
  EXPECT_EQ(read("0", "en_US", KVRAmountKind::cost).value, 0.0);
  EXPECT_EQ(read("450 €", "en_US", KVRAmountKind::cost).value, 450.0);

  // Royalties are a share, as stored and shown (0.35).
  const KVRAmountReading share = read("250", "en_US", KVRAmountKind::share);
  EXPECT_FALSE(share.ok());
  EXPECT_EQ(share.error, "Royalties are a share from 0 to 1, such as 0.35 for 35%; “250” is outside.");
  EXPECT_EQ(read("0.35", "en_US", KVRAmountKind::share).value, 0.35);
  EXPECT_EQ(read("0,35", "de_DE", KVRAmountKind::share).value, 0.35);
  EXPECT_EQ(read("1", "en_US", KVRAmountKind::share).value, 1.0);
  for (const char* text : {"35%", "-0.1", "0.35 €"}) {
    const KVRAmountReading r = read(QString::fromUtf8(text), "en_US", KVRAmountKind::share);
    EXPECT_FALSE(r.ok()) << text;
    EXPECT_TRUE(r.error.contains("0.35")) << text << ": " << r.error.toStdString();
  }
}

// What the application writes ("amount symbol", with the locale's money
// separators) reads back as the same amount.
TEST(AmountText, TheApplicationsOwnAmountsReadBack) {
  for (const char* locale : {"en_US", "de_DE", "fr_FR", "de_CH", "fr_CH", "de_AT", "hi_IN", "ar_EG", "ja_JP"}) {
    KVRFormatters::shared().resetLocale(QString::fromLatin1(locale));
    for (double amount : {1234.56, -98765.43, 0.5, 1234567.89}) {
      const QString text =
          KVRFormatters::shared().currencyFormatterWithFloats().stringFromNumber(amount) + QStringLiteral(" €");
      const KVRAmountReading r = KVRReadAmountText(text, KVRAmountKind::any);
      ASSERT_TRUE(r.ok()) << locale << " " << text.toStdString() << ": " << r.error.toStdString();
      EXPECT_NEAR(*r.value, amount, 1e-9) << locale << " " << text.toStdString();
    }
  }
  KVRFormatters::shared().resetLocale();
}

}  // namespace
