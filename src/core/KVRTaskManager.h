#pragma once
// The shared registry of running tasks. It numbers the tasks it registers
// (1, 2, 3...) and announces every change of the list with
// KVRTaskManagerTaskListDidChange, always posted on the main thread (queued),
// whichever thread registered or removed the task.
#include <memory>
#include <mutex>
#include <vector>

#include "core/KVRTask.h"

class KVRTaskManager {
 public:
  static KVRTaskManager& sharedInstance();

  // Gives the task its identifier and adds it to the list; a task already
  // registered keeps its identifier and is not added twice. Any thread.
  void registerTask(const std::shared_ptr<KVRTask>& task);
  // Removes the task from the list (nothing when it is not there). Any thread.
  void unregisterTask(const std::shared_ptr<KVRTask>& task);

  // The registered tasks, oldest first.
  std::vector<std::shared_ptr<KVRTask>> tasks() const;
  std::shared_ptr<KVRTask> taskWithIdentifier(int identifier) const;

 private:
  KVRTaskManager() = default;
  void announce();
  mutable std::mutex lock_;
  std::vector<std::shared_ptr<KVRTask>> tasks_;
  int lastIdentifier_ = 0;
};
