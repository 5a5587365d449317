#include "platform/KVRNotificationCenter.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/KVRMainThread.h"

namespace {

struct Registration {
  const void* observer = nullptr;
  QString name;
  const void* object = nullptr;
  std::shared_ptr<KVRNotificationCenter::Handler> handler;
  // Cleared on removal, so a post already under way skips the observer.
  std::shared_ptr<std::atomic<bool>> alive;
};

struct Registry {
  std::mutex lock;
  std::vector<Registration> entries;
};

Registry& registryFor(const KVRNotificationCenter* center) {
  // One registry per centre object; the application has only the default one.
  static std::mutex mapLock;
  static std::vector<std::pair<const KVRNotificationCenter*, std::unique_ptr<Registry>>> all;
  std::lock_guard<std::mutex> g(mapLock);
  for (auto& [c, r] : all)
    if (c == center) return *r;
  all.emplace_back(center, std::make_unique<Registry>());
  return *all.back().second;
}

}  // namespace

KVRNotificationCenter& KVRNotificationCenter::defaultCenter() {
  static KVRNotificationCenter center;
  return center;
}

void KVRNotificationCenter::addObserver(const void* observer, const QString& name,
                                        const void* object, Handler handler) {
  if (!handler) return;
  Registry& r = registryFor(this);
  Registration reg;
  reg.observer = observer;
  reg.name = name;
  reg.object = object;
  reg.handler = std::make_shared<Handler>(std::move(handler));
  reg.alive = std::make_shared<std::atomic<bool>>(true);
  std::lock_guard<std::mutex> g(r.lock);
  r.entries.push_back(std::move(reg));
}

void KVRNotificationCenter::removeObserver(const void* observer) {
  Registry& r = registryFor(this);
  std::lock_guard<std::mutex> g(r.lock);
  std::erase_if(r.entries, [&](const Registration& e) {
    if (e.observer != observer) return false;
    e.alive->store(false);
    return true;
  });
}

void KVRNotificationCenter::removeObserver(const void* observer, const QString& name) {
  Registry& r = registryFor(this);
  std::lock_guard<std::mutex> g(r.lock);
  std::erase_if(r.entries, [&](const Registration& e) {
    if (e.observer != observer || e.name != name) return false;
    e.alive->store(false);
    return true;
  });
}

void KVRNotificationCenter::postNotification(const QString& name, const void* object,
                                             const QVariantMap& userInfo) {
  Registry& r = registryFor(this);
  std::vector<Registration> targets;
  {
    std::lock_guard<std::mutex> g(r.lock);
    for (const Registration& e : r.entries)
      if (e.name == name && (e.object == nullptr || e.object == object)) targets.push_back(e);
  }
  if (targets.empty()) return;
  const KVRNotification note{name, object, userInfo};
  // Handlers run without the lock held: they may add or remove observers.
  for (const Registration& e : targets)
    if (e.alive->load()) (*e.handler)(note);
}

void KVRNotificationCenter::sendNotification(const KVRNotificationEnvelope& envelope) {
  KVRMainThread::post([this, envelope] {
    postNotification(envelope.NotificationName, envelope.NotificationObject,
                     envelope.NotificationUserInfo);
  });
}
