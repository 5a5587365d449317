#include "core/KVRCalculationServices.h"

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRCalendar.h"
#include "platform/KVRVortelyLogCenter.h"

KVRCalculationServices KVRCalculationServices::shared() {
  return {&KVRVortelyCurrencyConverter::sharedInstance(), &KVRCalendar::shared(),
          &KVRVortelyLogCenter::sharedInstance()};
}
