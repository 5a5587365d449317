#pragma once
// One long operation: a label and a progress from 0 to 1 that the task status
// line shows, an identifier given by the task manager, a kind, and the paused
// and cancel flags the worker polls. No thread is ever stopped from outside:
// the worker tests isCancelled() between steps and calls waitWhilePaused().
#include <QString>
#include <atomic>
#include <mutex>

enum KVRTaskKind : int { KVRTaskKindPlain = 0, KVRTaskKindReviews = 1, KVRTaskKindStoreInformation = 2 };

class KVRTask {
 public:
  explicit KVRTask(const QString& label, bool cancelable = true, int kind = KVRTaskKindPlain);

  QString label() const;

  // Clamped to 0...1; NaN counts as 0.
  float progress() const { return progress_.load(std::memory_order_relaxed); }
  void setProgress(float progress);

  // 0 until the task manager registers the task.
  int identifier() const { return identifier_.load(std::memory_order_relaxed); }
  int kind() const { return kind_; }
  bool cancelable() const { return cancelable_; }

  bool isPaused() const { return paused_.load(); }
  void setPaused(bool paused) { paused_.store(paused); }

  // A cancel request is ignored by a task that cannot be cancelled.
  void cancel();
  bool isCancelled() const { return cancel_.load(); }

  // Sleeps in half-second steps while the task is paused and not cancelled.
  void waitWhilePaused() const;

 private:
  friend class KVRTaskManager;
  const QString label_;  // fixed when the task is made: read from any thread
  std::atomic<float> progress_{0.0f};
  std::atomic<int> identifier_{0};
  const int kind_;
  const bool cancelable_;
  std::atomic<bool> paused_{false};
  std::atomic<bool> cancel_{false};
};
