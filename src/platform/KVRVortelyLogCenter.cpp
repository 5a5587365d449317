#include "platform/KVRVortelyLogCenter.h"

#include <QDateTime>
#include <chrono>
#include <cstdio>
#include <mutex>

struct KVRVortelyLogCenter::LogState {
  std::mutex lock;
  QStringList lines;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  // The last stamp written and its second: entries within one second share it.
  qint64 stampSecond = -1;
  QString stamp;
};

KVRVortelyLogCenter::KVRVortelyLogCenter() : state_(std::make_unique<LogState>()) {}

KVRVortelyLogCenter::~KVRVortelyLogCenter() = default;

KVRVortelyLogCenter& KVRVortelyLogCenter::sharedInstance() {
  static KVRVortelyLogCenter center;  // the start moment defaults to the first use
  return center;
}

void KVRVortelyLogCenter::addLogEntry(const QString& message, bool showInConsole,
                                      const QString& keyword) {
  LogState& s = *state_;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  const qint64 second = now >= 0 ? now / 1000 : (now - 999) / 1000;
  QString line;
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (second != s.stampSecond) {
      // The instant in UTC, "2012-07-01 13:30:00 +0000".
      s.stamp = QDateTime::fromMSecsSinceEpoch(second * 1000, Qt::UTC)
                    .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss '+0000'"));
      s.stampSecond = second;
    }
    const auto elapsed = std::chrono::steady_clock::now() - s.start;
    const unsigned long secs = static_cast<unsigned long>(
        std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
    line = QStringLiteral("%1 - [%2s] %3 - %4").arg(s.stamp, QString::number(secs), keyword, message);
    s.lines.append(line);
  }
  if (showInConsole) {
    const QByteArray text = line.toLocal8Bit();
    std::fprintf(stderr, "%s\n", text.constData());
  }
}

QStringList KVRVortelyLogCenter::lines() const {
  LogState& s = *state_;
  std::lock_guard<std::mutex> g(s.lock);
  return s.lines;
}

void KVRVortelyLogCenter::clear() {
  LogState& s = *state_;
  std::lock_guard<std::mutex> g(s.lock);
  s.lines.clear();
}

void KVRVortelyLogCenter::markStart() {
  LogState& s = *state_;
  std::lock_guard<std::mutex> g(s.lock);
  s.start = std::chrono::steady_clock::now();
}
