#include "core/KVRTaskManager.h"

#include <algorithm>

#include "core/KVRNotifications.h"
#include "platform/KVRNotificationCenter.h"

KVRTaskManager& KVRTaskManager::sharedInstance() {
  static KVRTaskManager* manager = new KVRTaskManager();
  return *manager;
}

void KVRTaskManager::registerTask(const std::shared_ptr<KVRTask>& task) {
  if (!task) return;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (std::find(tasks_.begin(), tasks_.end(), task) != tasks_.end()) return;
    if (task->identifier_.load() == 0) task->identifier_.store(++lastIdentifier_);
    tasks_.push_back(task);
  }
  announce();
}

void KVRTaskManager::unregisterTask(const std::shared_ptr<KVRTask>& task) {
  {
    std::lock_guard<std::mutex> g(lock_);
    auto it = std::find(tasks_.begin(), tasks_.end(), task);
    if (it == tasks_.end()) return;
    tasks_.erase(it);
  }
  announce();
}

std::vector<std::shared_ptr<KVRTask>> KVRTaskManager::tasks() const {
  std::lock_guard<std::mutex> g(lock_);
  return tasks_;
}

std::shared_ptr<KVRTask> KVRTaskManager::taskWithIdentifier(int identifier) const {
  std::lock_guard<std::mutex> g(lock_);
  for (const auto& t : tasks_)
    if (t->identifier() == identifier) return t;
  return nullptr;
}

void KVRTaskManager::announce() {
  KVRNotificationEnvelope envelope;
  envelope.NotificationName = KVRTaskManagerTaskListDidChange;
  envelope.NotificationObject = this;
  KVRNotificationCenter::defaultCenter().sendNotification(envelope);
}
