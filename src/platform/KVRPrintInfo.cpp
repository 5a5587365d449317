#include "platform/KVRPrintInfo.h"

#include <mutex>

namespace {
std::mutex g_lock;
KVRPrintInfo& storage() {
  static KVRPrintInfo info;
  return info;
}
}  // namespace

KVRPrintInfo KVRPrintInfo::shared() {
  std::lock_guard<std::mutex> g(g_lock);
  return storage();
}

void KVRPrintInfo::setShared(const KVRPrintInfo& info) {
  std::lock_guard<std::mutex> g(g_lock);
  storage() = info;
}
