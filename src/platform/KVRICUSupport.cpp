#include "platform/KVRICUSupport.h"

#include <cstdlib>
#include <string>
#include <unicode/ucal.h>

namespace {

std::string localeNameFromEnvironment() {
  for (const char* var : {"LC_ALL", "LANG"}) {
    const char* v = std::getenv(var);
    if (!v || !*v) continue;
    std::string name(v);
    const auto cut = name.find_first_of(".@");
    if (cut != std::string::npos) name.resize(cut);
    if (name.empty() || name == "C" || name == "POSIX") return {};
    return name;
  }
  return {};
}

bool isKnownZone(const icu::TimeZone& zone) {
  icu::UnicodeString id;
  zone.getID(id);
  return id != icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID, -1, US_INV);
}

}  // namespace

icu::Locale KVRUserLocale() {
  const std::string name = localeNameFromEnvironment();
  if (name.empty()) return icu::Locale::getDefault();
  icu::Locale l(name.c_str());
  return l.isBogus() ? icu::Locale::getDefault() : l;
}

icu::Locale KVRLocaleNamed(const QString& icuName) {
  if (icuName.isEmpty()) return KVRUserLocale();
  icu::Locale l(icuName.toLatin1().constData());
  return l.isBogus() ? KVRUserLocale() : l;
}

std::unique_ptr<icu::TimeZone> KVRUserTimeZone(const QString& ianaZone) {
  QString name = ianaZone;
  if (name.isEmpty()) {
    const char* tz = std::getenv("TZ");
    if (tz && *tz) name = QString::fromLocal8Bit(tz);
    if (name.startsWith(QLatin1Char(':'))) name.remove(0, 1);
  }
  if (!name.isEmpty()) {
    std::unique_ptr<icu::TimeZone> z(icu::TimeZone::createTimeZone(KVRToUnicodeString(name)));
    if (z && isKnownZone(*z)) return z;
  }
  std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
  if (host && isKnownZone(*host)) return host;
  return std::unique_ptr<icu::TimeZone>(icu::TimeZone::getGMT()->clone());
}

QString KVRFromUnicodeString(const icu::UnicodeString& s) {
  return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

icu::UnicodeString KVRToUnicodeString(const QString& s) {
  return icu::UnicodeString(reinterpret_cast<const UChar*>(s.utf16()), static_cast<int32_t>(s.size()));
}
