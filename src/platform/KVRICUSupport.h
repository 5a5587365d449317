#pragma once
// The user's locale and time zone as ICU objects, read from the environment
// the way the C library reads it.
//
// Locale: LC_ALL, then the category's own variable (LC_NUMERIC for numbers,
// LC_TIME for dates and the calendar), then LANG; ICU's default when none is
// set or it names the "C"/"POSIX" locale.
//
// Time zone: resolved once for the whole process, so that the calendar and the
// date formatter always agree:
// - TZ unset or empty: the host's zone (/etc/localtime);
// - TZ naming a zone ("Europe/Paris", ":Europe/Paris", or a path below a
//   zoneinfo folder): that zone;
// - TZ holding a POSIX rule ("CET-1CEST,M3.5.0,M10.5.0/3", "<+03>-3",
//   "EST5EDT"): a zone with exactly that rule;
// - anything else: the offset the C library gives for it now (a fixed zone),
//   never a silent UTC when the system says otherwise.
#include <QString>
#include <cstdint>
#include <memory>
#include <unicode/locid.h>
#include <unicode/timezone.h>

enum class KVRLocaleCategory { numbers, dates };

// The locale named by the environment for that category ("fr_FR.UTF-8" gives
// fr_FR; ICU keywords such as "@calendar=japanese" are kept).
icu::Locale KVRUserLocale(KVRLocaleCategory category = KVRLocaleCategory::dates);
// The locale of an ICU name such as "en_US"; the user's locale of the
// category when empty.
icu::Locale KVRLocaleNamed(const QString& icuName, KVRLocaleCategory category = KVRLocaleCategory::dates);

// A copy of the user's time zone (see above); never null.
std::unique_ptr<icu::TimeZone> KVRUserTimeZone();
// Resolves the user's time zone again, from the environment or from the given
// name (a zone name or a POSIX rule); tests use it. Every later
// KVRUserTimeZone() answers the new zone and the generation moves on.
void KVRResetUserTimeZone(const QString& zoneName = QString());
// Moves on each time the user's zone is resolved again, so that holders of a
// copy know when to take a new one.
uint64_t KVRUserTimeZoneGeneration();

// The zone a TZ value names, resolved as described above (exposed for tests).
std::unique_ptr<icu::TimeZone> KVRTimeZoneForTZ(const QString& tz);
// A POSIX TZ rule as a zone; null when the text is not such a rule.
std::unique_ptr<icu::TimeZone> KVRTimeZoneFromPosixRule(const QString& rule);

QString KVRFromUnicodeString(const icu::UnicodeString& s);
icu::UnicodeString KVRToUnicodeString(const QString& s);
