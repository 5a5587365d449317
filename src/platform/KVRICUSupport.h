#pragma once
// The user's locale and time zone as ICU objects, read from the environment
// (LC_ALL, then LANG; TZ), falling back to ICU's own defaults.
#include <QString>
#include <memory>
#include <unicode/locid.h>
#include <unicode/timezone.h>

// The locale named by the environment ("fr_FR.UTF-8" gives fr_FR); ICU's
// default locale when none is set or it is "C"/"POSIX".
icu::Locale KVRUserLocale();
// The locale of an ICU name such as "en_US"; the user's locale when empty.
icu::Locale KVRLocaleNamed(const QString& icuName);
// The zone named by TZ (an IANA name, optionally after ':'), or the host's
// zone; never null. An IANA name given here takes precedence.
std::unique_ptr<icu::TimeZone> KVRUserTimeZone(const QString& ianaZone = QString());

QString KVRFromUnicodeString(const icu::UnicodeString& s);
icu::UnicodeString KVRToUnicodeString(const QString& s);
