// The ratings load: every product's rating cache, then the notification.
#include "core/KVRVortelyCoreDataManagerImpl.h"

#include "core/KVRNotifications.h"
#include "platform/KVRNotificationCenter.h"

void KVRVortelyCoreDataManager::loadRatings() {
  bool expected = false;
  if (!ratingsLoading_.compare_exchange_strong(expected, true)) return;  // one load at a time
  {
    std::lock_guard<std::recursive_mutex> lock(contextLock_);
    for (KVRVortelyManagedProduct* p : d_->products) p->cacheRatings();
    ratingsLoaded_ = true;
  }
  ratingsLoading_ = false;
  KVRNotificationEnvelope envelope;
  envelope.NotificationName = KVRVortelyRatingsHaveBeenLoaded;
  KVRNotificationCenter::defaultCenter().sendNotification(envelope);
}
