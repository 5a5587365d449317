#include "core/KVRTask.h"

#include <chrono>
#include <cmath>
#include <thread>

KVRTask::KVRTask(const QString& label, bool cancelable, int kind)
    : label_(label), kind_(kind), cancelable_(cancelable) {}

QString KVRTask::label() const { return label_; }

void KVRTask::setProgress(float progress) {
  if (std::isnan(progress) || progress < 0.0f) progress = 0.0f;
  if (progress > 1.0f) progress = 1.0f;
  progress_.store(progress, std::memory_order_relaxed);
}

void KVRTask::cancel() {
  if (cancelable_) cancel_.store(true);
}

void KVRTask::waitWhilePaused() const {
  while (paused_.load() && !cancel_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(500));
}
