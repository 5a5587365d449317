#pragma once
// Running work on the main thread from any thread: now (queued), after a
// delay, or synchronously.
#include <functional>

namespace KVRMainThread {
bool isMainThread();
// Queues the call on the main thread's event loop; never runs it inline while
// an application object exists (without one there is no loop, and it runs at
// once).
void post(std::function<void()> fn);
// Runs the call on the main thread after the delay, from any thread.
void postAfter(double seconds, std::function<void()> fn);
// Runs the call on the main thread and waits for it (inline when already there).
void runAndWait(std::function<void()> fn);
// Processes queued main-thread calls until `done` answers true or the time runs
// out (tests and the start-up window); returns done().
bool waitUntil(const std::function<bool()>& done, double timeoutSeconds);
}  // namespace KVRMainThread
