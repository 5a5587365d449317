// The user's time zone and locale as the C library reads them from the
// environment.
#include <gtest/gtest.h>

#include <QByteArray>
#include <cstdlib>
#include <ctime>

#include "env_scope.h"
#include "platform/KVRICUSupport.h"

namespace {

// The zone's offset against the C library's, at instants spread over 35
// years (every 5 hours 13 minutes, so every hour of the day and every day of
// the week comes round).
::testing::AssertionResult agreesWithTheCLibrary(const char* tz) {
  EnvScope scope("TZ", tz);
  std::unique_ptr<icu::TimeZone> zone = KVRTimeZoneForTZ(QString::fromLatin1(tz));
  if (!zone) return ::testing::AssertionFailure() << "no zone";
  int checked = 0;
  for (std::time_t t = 946684800; t < 2051222400; t += 5 * 3600 + 13 * 60) {
    std::tm local{};
    localtime_r(&t, &local);
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    zone->getOffset(double(t) * 1000.0, false, raw, dst, status);
    if (U_FAILURE(status)) return ::testing::AssertionFailure() << "ICU failed";
    if (int64_t(raw) + dst != int64_t(local.tm_gmtoff) * 1000)
      return ::testing::AssertionFailure() << "at " << t << ": " << (raw + dst) / 1000 << " s against the C library's "
                                           << local.tm_gmtoff << " s";
    ++checked;
  }
  return ::testing::AssertionSuccess() << checked << " instants";
}

}  // namespace

TEST(TimeZone, ReadsTZAsTheCLibraryDoes) {
  for (const char* tz : {"CET-1CEST,M3.5.0,M10.5.0/3",      // Central Europe as a rule
                         "<+03>-3",                          // a fixed offset named by its value
                         "<-0330>3:30", "<+0545>-5:45", "JST-9", "UTC0",
                         "EST5EDT,M3.2.0/2:00:00,M11.1.0/2:00:00",
                         "NZST-12NZDT,M9.5.0,M4.1.0/3",      // southern summer
                         "IST-1GMT0,M10.5.0,M3.5.0/1",       // negative summer time
                         "XXX3YYY,J60/2,J300/2",             // days of the year
                         "Europe/Paris", ":America/Santiago", "/usr/share/zoneinfo/Asia/Tokyo",
                         ":/usr/share/zoneinfo/Australia/Lord_Howe", ""}) {
    EXPECT_TRUE(agreesWithTheCLibrary(tz)) << "TZ=" << tz;
  }
  // Summer time without dates: the United States' rule (the C library takes
  // the American dates too, from its own file).
  std::unique_ptr<icu::TimeZone> noDates = KVRTimeZoneFromPosixRule("AAA3BBB");
  ASSERT_TRUE(noDates);
  EXPECT_EQ(noDates->getRawOffset(), -3 * 3600000);
  EXPECT_TRUE(noDates->useDaylightTime());
  EXPECT_FALSE(KVRTimeZoneFromPosixRule("Europe/Paris"));
  EXPECT_FALSE(KVRTimeZoneFromPosixRule("CET-1CEST,M3.5.0"));
  EXPECT_FALSE(KVRTimeZoneFromPosixRule("CET-1CEST,M13.5.0,M10.5.0"));
}

// The zone is resolved once for the process and moves on only when asked to.
TEST(TimeZone, UserZoneIsResolvedOnceAndReset) {
  const uint64_t before = KVRUserTimeZoneGeneration();
  KVRResetUserTimeZone(QStringLiteral("<+03>-3"));
  EXPECT_GT(KVRUserTimeZoneGeneration(), before);
  EXPECT_EQ(KVRUserTimeZone()->getRawOffset(), 3 * 3600000);
  {
    // A change of TZ alone does not move the resolved zone.
    EnvScope scope("TZ", "Asia/Tokyo");
    EXPECT_EQ(KVRUserTimeZone()->getRawOffset(), 3 * 3600000);
  }
  KVRResetUserTimeZone();
  icu::UnicodeString id;
  KVRUserTimeZone()->getID(id);
  EXPECT_EQ(KVRFromUnicodeString(id), QString::fromLocal8Bit(std::getenv("TZ")));
}

// LC_ALL over the category's own variable, over LANG.
TEST(Locale, EachCategoryReadsItsOwnVariable) {
  EnvScope lang("LANG", "en_US.UTF-8");
  EnvScope all("LC_ALL", nullptr);
  EnvScope numeric("LC_NUMERIC", "fr_CH.UTF-8");
  EnvScope time("LC_TIME", "de_AT.UTF-8@euro");
  EXPECT_STREQ(KVRUserLocale(KVRLocaleCategory::numbers).getName(), "fr_CH");
  EXPECT_STREQ(KVRUserLocale(KVRLocaleCategory::dates).getName(), "de_AT");
  {
    EnvScope over("LC_ALL", "ja_JP.UTF-8@calendar=japanese");
    EXPECT_STREQ(KVRUserLocale(KVRLocaleCategory::numbers).getName(), "ja_JP@calendar=japanese");
    EXPECT_STREQ(KVRUserLocale(KVRLocaleCategory::dates).getName(), "ja_JP@calendar=japanese");
  }
  EnvScope noTime("LC_TIME", "C");
  EXPECT_STREQ(KVRUserLocale(KVRLocaleCategory::dates).getName(), icu::Locale::getDefault().getName());
}
