#include <gtest/gtest.h>

#include <QtGlobal>
#include <atomic>
#include <thread>

#include "core/KVRCalendar.h"

namespace {

KVRCalendar& cal() { return KVRCalendar::shared(); }

KVRDate ymd(int y, int m, int d) { return cal().dateFromComponents(KVRDateComponents::ymd(y, m, d)); }

void expectYMD(KVRDate date, int y, int m, int d) {
  const KVRDateComponents c = cal().components(KVRYearCalendarUnit | KVRMonthCalendarUnit |
                                                   KVRDayCalendarUnit | KVRHourCalendarUnit,
                                               date);
  EXPECT_EQ(c.year, y);
  EXPECT_EQ(c.month, m);
  EXPECT_EQ(c.day, d);
  EXPECT_EQ(c.hour, 0);
}

// Switches the shared calendar to a zone for one test and back afterwards.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) { cal().resetTimeZone(QString::fromLatin1(zone)); }
  ~ZoneScope() { cal().resetTimeZone(); }
};

}  // namespace

// The test program runs with TZ=Europe/Paris.
TEST(Calendar, DateFromComponentsIsLocalMidnight) {
  // 2012-01-01 00:00 in Paris is 2011-12-31 23:00 UTC.
  EXPECT_EQ(ymd(2012, 1, 1).ms, 1325372400000.0);
  EXPECT_EQ(KVRCalendar::sharedGMT().dateFromComponents(KVRDateComponents::ymd(2012, 1, 1)).ms,
            1325376000000.0);
  // Summer time: 2012-07-01 00:00 CEST = 2012-06-30 22:00 UTC.
  EXPECT_EQ(ymd(2012, 7, 1).ms, 1341093600000.0);
  // Out-of-range fields roll over.
  expectYMD(ymd(2012, 13, 1), 2013, 1, 1);
  expectYMD(ymd(2012, 3, 0), 2012, 2, 29);
}

TEST(Calendar, ComponentsOfADate) {
  const KVRDate d(1341093600000.0 + 3600000.0 * 13.5);  // 2012-07-01 13:30 local
  const KVRDateComponents c = cal().components(
      KVRYearCalendarUnit | KVRMonthCalendarUnit | KVRDayCalendarUnit | KVRHourCalendarUnit |
          KVRMinuteCalendarUnit | KVRSecondCalendarUnit | KVRWeekdayCalendarUnit,
      d);
  EXPECT_EQ(c.year, 2012);
  EXPECT_EQ(c.month, 7);
  EXPECT_EQ(c.day, 1);
  EXPECT_EQ(c.hour, 13);
  EXPECT_EQ(c.minute, 30);
  EXPECT_EQ(c.second, 0);
  EXPECT_EQ(c.weekday, 1);  // a Sunday
  // Only the asked units are filled (mask 12: year and month).
  const KVRDateComponents ym = cal().components(12, d);
  EXPECT_EQ(ym.year, 2012);
  EXPECT_EQ(ym.month, 7);
  EXPECT_FALSE(KVRDateComponents::isSet(ym.day));
  EXPECT_FALSE(KVRDateComponents::isSet(cal().components(12, KVRDate()).year));
}

TEST(Calendar, AddingMixedUnitsLargestFirst) {
  KVRDateComponents c;
  c.month = -1;
  c.day = 1;
  expectYMD(cal().dateByAddingComponents(c, ymd(2012, 3, 31)), 2012, 3, 1);
  expectYMD(cal().dateByAddingComponents(c, ymd(2013, 3, 31)), 2013, 3, 1);
  KVRDateComponents y;
  y.year = -1;
  y.day = 1;
  expectYMD(cal().dateByAddingComponents(y, ymd(2012, 2, 29)), 2011, 3, 1);
  // One day across the spring change keeps midnight (a 23-hour day).
  const KVRDate before = ymd(2012, 3, 25);
  const KVRDate after = cal().dateByAddingComponents(KVRDateComponents::days(1), before);
  expectYMD(after, 2012, 3, 26);
  EXPECT_EQ(after.ms - before.ms, 23 * 3600000.0);
  // Hours are elapsed time.
  KVRDateComponents h;
  h.hour = 24;
  EXPECT_EQ(cal().dateByAddingComponents(h, before).ms - before.ms, 24 * 3600000.0);
  // End of month pinning.
  expectYMD(cal().dateByAddingComponents(KVRDateComponents::months(1), ymd(2012, 1, 31)), 2012, 2, 29);
  EXPECT_FALSE(cal().dateByAddingComponents(c, KVRDate()).isValid());
}

TEST(Calendar, DifferencesLargestUnitFirst) {
  const unsigned ymdUnits = KVRYearCalendarUnit | KVRMonthCalendarUnit | KVRDayCalendarUnit;
  KVRDateComponents back = cal().components(ymdUnits, ymd(2012, 3, 31), ymd(2011, 4, 1));
  EXPECT_EQ(back.year, 0);
  EXPECT_EQ(back.month, -11);
  EXPECT_EQ(back.day, -29);
  KVRDateComponents fwd = cal().components(ymdUnits, ymd(2011, 4, 1), ymd(2012, 3, 31));
  EXPECT_EQ(fwd.year, 0);
  EXPECT_EQ(fwd.month, 11);
  EXPECT_EQ(fwd.day, 30);
  EXPECT_EQ(cal().components(KVRDayCalendarUnit, ymd(2012, 1, 1), ymd(2013, 1, 1)).day, 366);
  // A day across the 23-hour day still counts as one day.
  EXPECT_EQ(cal().components(KVRDayCalendarUnit, ymd(2012, 3, 25), ymd(2012, 3, 26)).day, 1);
  KVRDateComponents yd = cal().components(KVRYearCalendarUnit | KVRDayCalendarUnit,
                                          ymd(2010, 6, 15), ymd(2012, 6, 20));
  EXPECT_EQ(yd.year, 2);
  EXPECT_EQ(yd.day, 5);
}

TEST(Calendar, CivilDaysAndStartOfDay) {
  const KVRDate noon(1341093600000.0 + 12 * 3600000.0);  // 2012-07-01 12:00 local
  EXPECT_EQ(cal().civilDay(noon), KVRCivilDayFromYMD(2012, 7, 1));
  // 2012-07-01 01:00 local is still 30 June in UTC.
  const KVRDate early(1341093600000.0 + 3600000.0);
  EXPECT_EQ(cal().civilDay(early), KVRCivilDayFromYMD(2012, 7, 1));
  EXPECT_EQ(KVRCalendar::sharedGMT().civilDay(early), KVRCivilDayFromYMD(2012, 6, 30));
  EXPECT_EQ(cal().startOfDay(noon).ms, 1341093600000.0);
  EXPECT_EQ(cal().dateFromCivilDay(KVRCivilDayFromYMD(2012, 7, 1)).ms, 1341093600000.0);
  // Before 1970 as well.
  const KVRCivilDay old = KVRCivilDayFromYMD(1969, 12, 31);
  EXPECT_EQ(cal().civilDay(cal().dateFromCivilDay(old)), old);
  EXPECT_FALSE(cal().startOfDay(KVRDate()).isValid());
}

// The fast day conversions against the calendar's own field arithmetic, over
// years of clock changes in zones with odd rules (half-hour changes, changes
// at midnight, a skipped day).
TEST(Calendar, CivilDaysAgreeWithTheCalendarForYears) {
  for (const char* zone : {"", "America/Sao_Paulo", "America/Santiago", "Australia/Lord_Howe",
                           "Pacific/Apia", "Asia/Tehran"}) {
    SCOPED_TRACE(zone);
    ZoneScope scope(zone);
    // Forwards and backwards, so the cached span is entered from both sides.
    for (int direction : {1, -1}) {
      const KVRCivilDay first = KVRCivilDayFromYMD(2008, 1, 1), last = KVRCivilDayFromYMD(2020, 1, 1);
      for (KVRCivilDay day = direction > 0 ? first : last; day >= first && day <= last; day += direction) {
        const KVRYMD y = KVRYMDFromCivilDay(day);
        const KVRDate viaCalendar = ymd(y.year, int(y.month), int(y.day));
        ASSERT_EQ(cal().dateFromCivilDay(day).ms, viaCalendar.ms) << day;
        const bool skippedDay = y.year == 2011 && y.month == 12 && y.day == 30;  // Apia
        if (!skippedDay) { ASSERT_EQ(cal().civilDay(KVRDate(viaCalendar.ms + 12 * 3600000.0)), day) << day; }
      }
    }
  }
  // Apia went from 29 to 31 December 2011: the missing day has no instant of
  // its own and starts where the next one does.
  ZoneScope apia("Pacific/Apia");
  EXPECT_EQ(cal().dateFromCivilDay(KVRCivilDayFromYMD(2011, 12, 30)).ms,
            cal().dateFromCivilDay(KVRCivilDayFromYMD(2011, 12, 31)).ms);
}

// Walking day by day across a clock change at midnight (both directions):
// every step lands on the next civil day, and each civil day has exactly one
// first instant, the one just after the previous day's last.
TEST(Calendar, DayWalkAcrossMidnightClockChange) {
  struct Walk { const char* zone; int y, m, d; };
  for (const Walk w : {Walk{"America/Sao_Paulo", 2018, 10, 20}, Walk{"America/Sao_Paulo", 2019, 2, 1},
                       Walk{"America/Santiago", 2018, 8, 1}, Walk{"America/Santiago", 2018, 5, 1}}) {
    SCOPED_TRACE(testing::Message() << w.zone << " " << w.y << "-" << w.m);
    ZoneScope scope(w.zone);
    KVRDate d = ymd(w.y, w.m, w.d);
    KVRCivilDay expected = KVRCivilDayFromYMD(w.y, w.m, w.d);
    KVRDate previousStart;
    for (int i = 0; i < 40; ++i) {
      ASSERT_EQ(cal().civilDay(d), expected) << i;
      const KVRDate start = cal().dateFromCivilDay(expected);
      ASSERT_EQ(cal().startOfDay(d).ms, start.ms) << i;
      ASSERT_EQ(cal().civilDay(start), expected) << i;
      ASSERT_EQ(cal().civilDay(KVRDate(start.ms - 1)), expected - 1) << i;
      if (previousStart.isValid()) { ASSERT_TRUE(start.isLaterThan(previousStart)) << i; }
      previousStart = start;
      d = cal().dateByAddingComponents(KVRDateComponents::days(1), d);
      ++expected;
    }
  }
  // Sao Paulo skipped midnight on 4 November 2018: the day starts at 01:00.
  ZoneScope scope("America/Sao_Paulo");
  const KVRDate nov4 = ymd(2018, 11, 4);
  const KVRDateComponents c = cal().components(KVRDayCalendarUnit | KVRHourCalendarUnit, nov4);
  EXPECT_EQ(c.day, 4);
  EXPECT_EQ(c.hour, 1);
  EXPECT_EQ(nov4.ms, 1541300400000.0);  // 2018-11-04 03:00 UTC
}

// Users whose locale prefers another calendar (Buddhist, Persian) still get
// Gregorian years and twelve months: the month tables are Gregorian.
TEST(Calendar, AlwaysGregorianWhateverTheLocale) {
  const QByteArray savedLang = qgetenv("LANG");
  for (const char* lang : {"th_TH.UTF-8", "fa_IR.UTF-8", "ar_SA.UTF-8"}) {
    SCOPED_TRACE(lang);
    qputenv("LANG", lang);
    cal().resetTimeZone();
    const KVRDate d = ymd(2012, 3, 21);
    EXPECT_EQ(d.ms, 1332284400000.0);  // 2012-03-21 00:00 in Paris
    const KVRDateComponents c = cal().components(KVRYearCalendarUnit | KVRMonthCalendarUnit | KVRDayCalendarUnit, d);
    EXPECT_EQ(c.year, 2012);
    EXPECT_EQ(c.month, 3);
    EXPECT_EQ(c.day, 21);
  }
  qputenv("LANG", savedLang);
  cal().resetTimeZone();
}

TEST(Calendar, SharedFromManyThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 500; ++i) {
        const KVRCivilDay day = KVRCivilDayFromYMD(2010 + t, 1, 1) + i;
        if (cal().civilDay(cal().dateFromCivilDay(day)) != day) ++wrong;
        const KVRDate next = cal().dateByAddingComponents(KVRDateComponents::days(1), cal().dateFromCivilDay(day));
        if (cal().civilDay(next) != day + 1) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

// A wall time in a spring-forward gap moves forward by the gap's length, the
// same way whether the date is made from components, reached by an addition
// or asked for as a day's first instant.
TEST(Calendar, WallTimeInAGapMovesForwardByTheGap) {
  auto at = [](int y, int m, int d, int h, int mi) {
    KVRDateComponents c = KVRDateComponents::ymd(y, m, d);
    c.hour = h;
    c.minute = mi;
    return c;
  };
  auto utc = [&](int y, int m, int d, int h, int mi) {
    return KVRCalendar::sharedGMT().dateFromComponents(at(y, m, d, h, mi)).ms;
  };
  // Paris, 29 March 2026: 02:00 to 03:00 is skipped; 02:30 is 03:30 CEST.
  EXPECT_EQ(cal().dateFromComponents(at(2026, 3, 29, 2, 30)).ms, utc(2026, 3, 29, 1, 30));
  EXPECT_EQ(cal().dateByAddingComponents(KVRDateComponents::days(1), cal().dateFromComponents(at(2026, 3, 28, 2, 30))).ms,
            utc(2026, 3, 29, 1, 30));
  KVRDateComponents month;
  month.month = 1;
  EXPECT_EQ(cal().dateByAddingComponents(month, cal().dateFromComponents(at(2026, 2, 28, 2, 15))).ms,
            utc(2026, 3, 28, 1, 15));  // no gap on the 28th
  // A wall time that occurs twice is its first occurrence (02:30 CEST).
  EXPECT_EQ(cal().dateFromComponents(at(2026, 10, 25, 2, 30)).ms, utc(2026, 10, 25, 0, 30));

  // Santiago, 12 August 2018: 00:00 to 01:00 is skipped; 00:30 is 01:30.
  ZoneScope santiago("America/Santiago");
  const double firstInstant = cal().dateFromCivilDay(KVRCivilDayFromYMD(2018, 8, 12)).ms;
  EXPECT_EQ(firstInstant, utc(2018, 8, 12, 4, 0));
  EXPECT_EQ(cal().dateFromComponents(KVRDateComponents::ymd(2018, 8, 12)).ms, firstInstant);
  EXPECT_EQ(cal().dateFromComponents(at(2018, 8, 12, 0, 30)).ms, utc(2018, 8, 12, 4, 30));
  EXPECT_EQ(cal().dateByAddingComponents(KVRDateComponents::days(1), cal().dateFromComponents(at(2018, 8, 11, 0, 30))).ms,
            utc(2018, 8, 12, 4, 30));
}

// The day walk lists every calendar day from the first to the last, both
// included, also across days that start at 01:00, and starting on one.
TEST(Calendar, DayWalkKeepsEveryDayWhereMidnightIsSkipped) {
  struct Span { const char* zone; int y, m, d, days; };
  for (const Span s : {Span{"America/Santiago", 2018, 8, 1, 40}, Span{"America/Santiago", 2018, 8, 12, 9},
                       Span{"Asia/Beirut", 2019, 3, 20, 30}, Span{"Asia/Beirut", 2019, 3, 31, 1},
                       Span{"America/Sao_Paulo", 2018, 10, 20, 200}, Span{"", 2026, 3, 20, 240}}) {
    SCOPED_TRACE(testing::Message() << s.zone << " " << s.y << "-" << s.m << "-" << s.d);
    ZoneScope scope(s.zone);
    const KVRCivilDay first = KVRCivilDayFromYMD(s.y, s.m, s.d), last = first + s.days - 1;
    const KVRDate from = cal().dateFromCivilDay(first), to = cal().dateFromCivilDay(last);
    const std::vector<KVRDate> walk = cal().dayWalk(from, to);
    ASSERT_EQ(walk.size(), size_t(s.days));
    EXPECT_EQ(walk.front(), from);
    for (size_t i = 0; i < walk.size(); ++i) ASSERT_EQ(cal().civilDay(walk[i]), first + KVRCivilDay(i)) << i;
  }
  // Each date keeps the first one's time of day; reversed or missing dates walk nothing.
  const KVRDate noon(cal().dateFromCivilDay(KVRCivilDayFromYMD(2026, 3, 27)).ms + 12 * 3600000.0);
  const std::vector<KVRDate> walk = cal().dayWalk(noon, cal().dateFromCivilDay(KVRCivilDayFromYMD(2026, 3, 30)));
  ASSERT_EQ(walk.size(), 4u);
  EXPECT_EQ(cal().components(KVRHourCalendarUnit, walk[2]).hour, 12);  // after the change to summer time
  EXPECT_EQ(cal().components(KVRHourCalendarUnit, walk[3]).hour, 12);
  EXPECT_TRUE(cal().dayWalk(walk[1], walk[0]).empty());
  EXPECT_TRUE(cal().dayWalk(KVRDate(), walk[0]).empty());
}
