// This machine's memory bandwidth, the physical limit the other benchmarks
// are measured against: bytes a task must touch over these rates is the least
// time it can take. Reading (summing 64-bit words), writing (filling) and
// copying a buffer eight times the size of the last-level cache, on one
// thread and on as many threads as the process may run on; the best of seven
// passes each (the machine is shared).
//
//   VORTELY_BENCH_MEMORY_MB  the buffer size (default 512)
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

int processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return int(std::max(1u, std::thread::hardware_concurrency()));
  return std::max(1, CPU_COUNT(&set));
}

// Seconds of the fastest of seven passes of `work` over slices [begin, end)
// of `count` words, one slice per thread.
double fastest(int threads, size_t count, const std::function<void(size_t, size_t)>& work) {
  double best = 1e30;
  for (int pass = 0; pass < 7; ++pass) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> helpers;
    const size_t slice = count / size_t(threads);
    for (int t = 1; t < threads; ++t) helpers.emplace_back(work, size_t(t) * slice, t + 1 == threads ? count : size_t(t + 1) * slice);
    work(0, threads == 1 ? count : slice);
    for (std::thread& h : helpers) h.join();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main() {
  const char* mbEnv = std::getenv("VORTELY_BENCH_MEMORY_MB");
  const size_t bytes = size_t(mbEnv ? std::max(16, std::atoi(mbEnv)) : 512) << 20;
  const size_t words = bytes / sizeof(uint64_t);
  std::unique_ptr<uint64_t[]> a(new uint64_t[words]), b(new uint64_t[words]);
  for (size_t i = 0; i < words; ++i) a[i] = i, b[i] = 0;  // every page in place before timing

  volatile uint64_t sink = 0;
  auto read = [&](size_t from, size_t to) {
    uint64_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    size_t i = from;
    for (; i + 4 <= to; i += 4) s0 += a[i], s1 += a[i + 1], s2 += a[i + 2], s3 += a[i + 3];
    for (; i < to; ++i) s0 += a[i];
    sink = sink + s0 + s1 + s2 + s3;
  };
  auto write = [&](size_t from, size_t to) { std::memset(b.get() + from, int(from & 0x7f), (to - from) * sizeof(uint64_t)); };
  auto copy = [&](size_t from, size_t to) { std::memcpy(b.get() + from, a.get() + from, (to - from) * sizeof(uint64_t)); };

  const int all = processors();
  std::printf("buffer          %zu MB, %d processors\n", bytes >> 20, all);
  std::printf("%-10s %16s %16s\n", "", "1 thread", std::to_string(all).append(" threads").c_str());
  auto row = [&](const char* name, const std::function<void(size_t, size_t)>& work, double moved) {
    const double one = moved / fastest(1, words, work) / 1e9;
    const double many = all > 1 ? moved / fastest(all, words, work) / 1e9 : one;
    std::printf("%-10s %11.1f GB/s %11.1f GB/s\n", name, one, many);
  };
  row("read", read, double(bytes));
  row("write", write, double(bytes));
  row("copy", copy, 2.0 * double(bytes));  // read and written
  return 0;
}
