#include "core/KVRApplicationServices.h"

#include <atomic>

#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRUserDefaults.h"

namespace {
std::atomic<KVRApplicationServices*> g_current{nullptr};
}

bool KVRApplicationServices::roundCurrencyValues() {
  return KVRUserDefaults::standard().boolForKey(QStringLiteral("KVRVortelyRoundValues"));
}

bool KVRApplicationServices::saveDB(QString* error) {
  return KVRVortelyCoreDataManager::sharedInstance().save(error);
}

std::unique_lock<std::recursive_mutex> KVRApplicationServices::lockFormatters() {
  if (KVRApplicationServices* app = current()) return std::unique_lock<std::recursive_mutex>(app->formatterLock());
  return {};
}

KVRApplicationServices* KVRApplicationServices::current() { return g_current.load(); }
void KVRApplicationServices::setCurrent(KVRApplicationServices* s) { g_current.store(s); }
