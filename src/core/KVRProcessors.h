#pragma once
// How many processors the process may run on: its affinity mask (what
// `taskset` sets), not the machine's count. At least 1.
#include <sched.h>

#include <thread>

inline unsigned KVRAvailableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return unsigned(n);
  }
  const unsigned hw = std::thread::hardware_concurrency();
  return hw ? hw : 1u;
}
