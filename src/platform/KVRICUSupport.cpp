#include "platform/KVRICUSupport.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <unicode/simpletz.h>
#include <unicode/ucal.h>

namespace {

// ---------------------------------------------------------------- locale

std::string localeNameFromEnvironment(KVRLocaleCategory category) {
  const char* own = category == KVRLocaleCategory::numbers ? "LC_NUMERIC" : "LC_TIME";
  for (const char* var : {"LC_ALL", own, "LANG"}) {
    const char* v = std::getenv(var);
    if (!v || !*v) continue;
    std::string name(v);
    // "fr_CH.UTF-8@euro": the encoding and a plain modifier go; ICU keywords
    // ("@calendar=japanese") stay.
    std::string keywords;
    const auto at = name.find('@');
    if (at != std::string::npos) {
      if (name.find('=', at) != std::string::npos) keywords = name.substr(at);
      name.resize(at);
    }
    const auto dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    if (name.empty() || name == "C" || name == "POSIX") return {};
    return name + keywords;
  }
  return {};
}

// ---------------------------------------------------------------- time zone

bool isKnownZone(const icu::TimeZone& zone) {
  icu::UnicodeString id;
  zone.getID(id);
  return id != icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID, -1, US_INV);
}

std::unique_ptr<icu::TimeZone> fixedZone(int32_t offsetMs, const QString& id) {
  return std::make_unique<icu::SimpleTimeZone>(offsetMs, KVRToUnicodeString(id));
}

// The offset from UTC the C library applies now under the current TZ.
std::unique_ptr<icu::TimeZone> zoneFromCLibrary(const QString& id) {
  tzset();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!localtime_r(&now, &local)) return fixedZone(0, id);
  return fixedZone(int32_t(local.tm_gmtoff) * 1000, id);
}

// A reader of POSIX TZ rules: std offset [dst [offset] [,start[/time],end[/time]]].
class PosixRuleReader {
 public:
  explicit PosixRuleReader(const QString& text) : s_(text) {}

  std::unique_ptr<icu::TimeZone> read() {
    if (!name()) return nullptr;
    std::optional<int> stdOffset = clock(false);  // seconds west of Greenwich
    if (!stdOffset) return nullptr;
    const icu::UnicodeString id = KVRToUnicodeString(s_);
    if (atEnd()) return std::make_unique<icu::SimpleTimeZone>(-*stdOffset * 1000, id);

    if (!name()) return nullptr;
    int dstOffset = *stdOffset - 3600;
    if (!atEnd() && peek() != u',') {
      std::optional<int> o = clock(false);
      if (!o) return nullptr;
      dstOffset = *o;
    }
    Rule start, end;
    if (atEnd()) {
      // No rule given: the C library's default, the United States' rule.
      start = Rule{Rule::Kind::weekday, 3, 2, 0, 7200};
      end = Rule{Rule::Kind::weekday, 11, 1, 0, 7200};
    } else {
      if (!take(u',')) return nullptr;
      std::optional<Rule> a = rule();
      if (!a || !take(u',')) return nullptr;
      std::optional<Rule> b = rule();
      if (!b || !atEnd()) return nullptr;
      start = *a;
      end = *b;
    }
    int rawMs = -*stdOffset * 1000;
    int savingsMs = (*stdOffset - dstOffset) * 1000;
    if (savingsMs < 0) {
      // Negative summer time (standard time in summer, "winter time" in
      // winter): the same clock as a zone whose standard is the winter
      // offset, with the two changes swapped.
      rawMs = -dstOffset * 1000;
      savingsMs = -savingsMs;
      std::swap(start, end);
    }
    if (savingsMs == 0) return std::make_unique<icu::SimpleTimeZone>(rawMs, id);

    int8_t sm, sw, sd, em, ew, ed;
    if (!start.toICU(&sm, &sw, &sd) || !end.toICU(&em, &ew, &ed)) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    // The times of both changes are wall-clock times in force just before them.
    auto zone = std::make_unique<icu::SimpleTimeZone>(
        rawMs, id, sm, sw, sd, start.seconds * 1000, icu::SimpleTimeZone::WALL_TIME, em, ew, ed,
        end.seconds * 1000, icu::SimpleTimeZone::WALL_TIME, savingsMs, status);
    if (U_FAILURE(status)) return nullptr;
    return zone;
  }

 private:
  struct Rule {
    enum class Kind { julianNoLeap, zeroBased, weekday } kind = Kind::weekday;
    int a = 0, b = 0, c = 0;  // Jn: a = n; n: a = n; Mm.w.d: a = m, b = w, c = d
    int seconds = 7200;       // local time of the change

    bool toICU(int8_t* month, int8_t* dayOfWeekInMonth, int8_t* dayOfWeek) const {
      if (seconds < 0 || seconds > 86400) return false;
      if (kind == Kind::weekday) {
        if (a < 1 || a > 12 || b < 1 || b > 5 || c < 0 || c > 6) return false;
        *month = int8_t(a - 1);
        *dayOfWeekInMonth = int8_t(b == 5 ? -1 : b);  // week 5: the last one
        *dayOfWeek = int8_t(c + 1);                   // ICU counts Sunday as 1
        return true;
      }
      // A day of the year, as a fixed month and day. The zero-based form
      // counts 29 February in leap years; it is read as the day it names in
      // common years.
      int n = kind == Kind::julianNoLeap ? a : a + 1;
      if (n < 1 || n > 365) return false;
      static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      int m = 0;
      while (n > lengths[m]) n -= lengths[m++];
      *month = int8_t(m);
      *dayOfWeekInMonth = int8_t(n);  // a day of the month, with no weekday
      *dayOfWeek = 0;
      return true;
    }
  };

  bool atEnd() const { return i_ >= s_.size(); }
  char16_t peek() const { return atEnd() ? u'\0' : s_[i_].unicode(); }
  bool take(char16_t c) {
    if (peek() != c) return false;
    ++i_;
    return true;
  }
  static bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
  static bool isAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

  // A zone abbreviation: three or more letters, or <...> with letters, digits and signs.
  bool name() {
    if (take(u'<')) {
      int n = 0;
      while (!atEnd() && peek() != u'>') {
        const char16_t c = peek();
        if (!isAlpha(c) && !isDigit(c) && c != u'+' && c != u'-') return false;
        ++i_;
        ++n;
      }
      return take(u'>') && n >= 3;
    }
    int n = 0;
    while (isAlpha(peek())) {
      ++i_;
      ++n;
    }
    return n >= 3;
  }

  std::optional<int> number(int maxDigits) {
    int v = 0, n = 0;
    while (isDigit(peek()) && n < maxDigits) {
      v = v * 10 + (peek() - u'0');
      ++i_;
      ++n;
    }
    if (n == 0) return std::nullopt;
    return v;
  }

  // [+-]hh[:mm[:ss]] in seconds; a time of a rule may reach beyond a day.
  std::optional<int> clock(bool ruleTime) {
    int sign = 1;
    if (take(u'-')) sign = -1;
    else take(u'+');
    std::optional<int> h = number(ruleTime ? 3 : 2);
    if (!h || *h > (ruleTime ? 167 : 24)) return std::nullopt;
    int seconds = *h * 3600;
    if (take(u':')) {
      std::optional<int> m = number(2);
      if (!m || *m > 59) return std::nullopt;
      seconds += *m * 60;
      if (take(u':')) {
        std::optional<int> sec = number(2);
        if (!sec || *sec > 59) return std::nullopt;
        seconds += *sec;
      }
    }
    return sign * seconds;
  }

  std::optional<Rule> rule() {
    Rule r;
    if (take(u'M')) {
      r.kind = Rule::Kind::weekday;
      std::optional<int> m = number(2);
      if (!m || !take(u'.')) return std::nullopt;
      std::optional<int> w = number(1);
      if (!w || !take(u'.')) return std::nullopt;
      std::optional<int> d = number(1);
      if (!d) return std::nullopt;
      r.a = *m;
      r.b = *w;
      r.c = *d;
    } else {
      r.kind = take(u'J') ? Rule::Kind::julianNoLeap : Rule::Kind::zeroBased;
      std::optional<int> n = number(3);
      if (!n) return std::nullopt;
      r.a = *n;
    }
    if (take(u'/')) {
      std::optional<int> t = clock(true);
      if (!t) return std::nullopt;
      r.seconds = *t;
    }
    return r;
  }

  QString s_;
  qsizetype i_ = 0;
};

// The zone TZ names, or the host's zone when TZ is unset.
std::unique_ptr<icu::TimeZone> zoneFromEnvironment() {
  const char* tz = std::getenv("TZ");
  if (tz) return KVRTimeZoneForTZ(QString::fromLocal8Bit(tz));
  std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
  if (host && isKnownZone(*host)) return host;
  return zoneFromCLibrary(QStringLiteral("localtime"));
}

struct UserZone {
  std::mutex lock;
  std::unique_ptr<icu::TimeZone> zone;
  std::atomic<uint64_t> generation{1};
};

UserZone& userZone() {
  static UserZone z;
  return z;
}

}  // namespace

icu::Locale KVRUserLocale(KVRLocaleCategory category) {
  const std::string name = localeNameFromEnvironment(category);
  if (name.empty()) return icu::Locale::getDefault();
  icu::Locale l = icu::Locale::createFromName(name.c_str());
  return l.isBogus() ? icu::Locale::getDefault() : l;
}

icu::Locale KVRLocaleNamed(const QString& icuName, KVRLocaleCategory category) {
  if (icuName.isEmpty()) return KVRUserLocale(category);
  icu::Locale l = icu::Locale::createFromName(icuName.toLatin1().constData());
  return l.isBogus() ? KVRUserLocale(category) : l;
}

std::unique_ptr<icu::TimeZone> KVRTimeZoneFromPosixRule(const QString& rule) {
  if (rule.isEmpty()) return nullptr;
  return PosixRuleReader(rule).read();
}

std::unique_ptr<icu::TimeZone> KVRTimeZoneForTZ(const QString& tz) {
  // Set but empty: the C library counts it as UTC.
  if (tz.isEmpty()) return std::unique_ptr<icu::TimeZone>(icu::TimeZone::getGMT()->clone());
  QString name = tz;
  if (name.startsWith(QLatin1Char(':'))) name.remove(0, 1);
  // A zone file given by its path: the zone's name is the path below "zoneinfo".
  if (name.startsWith(QLatin1Char('/'))) {
    const qsizetype at = name.indexOf(QLatin1String("zoneinfo/"));
    if (at >= 0) name = name.mid(at + 9);
  }
  if (!name.isEmpty()) {
    std::unique_ptr<icu::TimeZone> z(icu::TimeZone::createTimeZone(KVRToUnicodeString(name)));
    if (z && isKnownZone(*z)) return z;
  }
  if (std::unique_ptr<icu::TimeZone> rule = KVRTimeZoneFromPosixRule(tz)) return rule;
  // Not a rule either: whatever the C library makes of it (when it is the
  // TZ in force), else UTC, as the C library does with a value it cannot read.
  const char* env = std::getenv("TZ");
  if (env && QString::fromLocal8Bit(env) == tz) return zoneFromCLibrary(tz);
  return fixedZone(0, tz);
}

std::unique_ptr<icu::TimeZone> KVRUserTimeZone() {
  UserZone& z = userZone();
  std::lock_guard<std::mutex> g(z.lock);
  if (!z.zone) z.zone = zoneFromEnvironment();
  return std::unique_ptr<icu::TimeZone>(z.zone->clone());
}

void KVRResetUserTimeZone(const QString& zoneName) {
  std::unique_ptr<icu::TimeZone> zone = zoneName.isEmpty() ? zoneFromEnvironment() : KVRTimeZoneForTZ(zoneName);
  UserZone& z = userZone();
  std::lock_guard<std::mutex> g(z.lock);
  z.zone = std::move(zone);
  z.generation.fetch_add(1, std::memory_order_acq_rel);
}

uint64_t KVRUserTimeZoneGeneration() { return userZone().generation.load(std::memory_order_acquire); }

QString KVRFromUnicodeString(const icu::UnicodeString& s) {
  return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

icu::UnicodeString KVRToUnicodeString(const QString& s) {
  return icu::UnicodeString(reinterpret_cast<const UChar*>(s.utf16()), static_cast<int32_t>(s.size()));
}
