#pragma once
// The shared services a calculation reads: the currency converter, the
// calendar and the log. The statement builder, the history builder, the totals
// engine and the details presenter take one of these; the default holds the
// application's shared instances, and tests pass their own.
class KVRVortelyCurrencyConverter;
class KVRCalendar;
class KVRVortelyLogCenter;

struct KVRCalculationServices {
  KVRVortelyCurrencyConverter* converter = nullptr;
  KVRCalendar* calendar = nullptr;
  KVRVortelyLogCenter* log = nullptr;

  // The application's shared converter, calendar (the user's time zone) and log.
  static KVRCalculationServices shared();
};
