#include "platform/KVRMainThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace KVRMainThread {

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
  QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
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
  QMetaObject::invokeMethod(app, std::move(fn), Qt::BlockingQueuedConnection);
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
