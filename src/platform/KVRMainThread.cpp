#include "platform/KVRMainThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace KVRMainThread {

namespace {
std::mutex& pendingLock() {
  static std::mutex m;
  return m;
}
std::deque<std::function<void()>>& pending() {
  static std::deque<std::function<void()>> q;
  return q;
}
}  // namespace

bool isMainThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void post(std::function<void()> fn) {
  if (!fn) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) {
    // No application (a command-line tool before or after its run): there is
    // no event loop to queue on, so the call runs here rather than being lost.
    fn();
    return;
  }
  // The call waits in a queue of our own, guarded by a standard mutex, and the
  // event loop is only told to run the next one. Handing the call over under
  // that mutex makes the hand-over visible to the thread sanitizer, which cannot
  // see the synchronisation inside Qt's own event queue.
  {
    std::lock_guard<std::mutex> g(pendingLock());
    pending().push_back(std::move(fn));
  }
  QMetaObject::invokeMethod(app, [] {
    std::function<void()> next;
    {
      std::lock_guard<std::mutex> g(pendingLock());
      if (pending().empty()) return;
      next = std::move(pending().front());
      pending().pop_front();
    }
    next();
  }, Qt::QueuedConnection);
}

void postAfter(double seconds, std::function<void()> fn) {
  if (!fn) return;
  const int ms = seconds > 0 ? static_cast<int>(seconds * 1000.0 + 0.5) : 0;
  // The timer must live on the main thread: hop there first, then arm it.
  post([ms, fn = std::move(fn)]() mutable {
    QTimer::singleShot(ms, QCoreApplication::instance(), std::move(fn));
  });
}

void runAndWait(std::function<void()> fn) {
  if (!fn) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || isMainThread()) {
    fn();
    return;
  }
  // Queued, then a handshake of our own rather than a blocking connection: the
  // same effect, and visible to the thread sanitizer.
  struct Handshake {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
  };
  auto handshake = std::make_shared<Handshake>();
  post([fn = std::move(fn), handshake] {
    struct Signal {  // signals even if the call throws
      Handshake& h;
      ~Signal() {
        {
          std::lock_guard<std::mutex> g(h.lock);
          h.done = true;
        }
        h.changed.notify_all();
      }
    } signal{*handshake};
    fn();
  });
  std::unique_lock<std::mutex> wait(handshake->lock);
  handshake->changed.wait(wait, [&] { return handshake->done; });
}

bool waitUntil(const std::function<bool()>& done, double timeoutSeconds) {
  QElapsedTimer clock;
  clock.start();
  const qint64 limit = static_cast<qint64>(timeoutSeconds * 1000.0);
  while (!done()) {
    if (clock.elapsed() >= limit) return done();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!done()) QThread::msleep(1);
  }
  return true;
}

}  // namespace KVRMainThread
