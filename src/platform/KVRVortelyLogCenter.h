#pragma once
// The shared in-memory log of time-stamped lines with keywords.
#include <QString>
#include <QStringList>
#include <memory>

class KVRVortelyLogCenter {
 public:
  // The application's log.
  static KVRVortelyLogCenter& sharedInstance();
  // A log of one's own (tests), its start now.
  KVRVortelyLogCenter();
  ~KVRVortelyLogCenter();
  KVRVortelyLogCenter(const KVRVortelyLogCenter&) = delete;
  KVRVortelyLogCenter& operator=(const KVRVortelyLogCenter&) = delete;

  // Appends "%@ - [%lus] %@ - %@" (date, seconds since start, keyword, message);
  // also to the console when asked. Any thread.
  void addLogEntry(const QString& message, bool showInConsole, const QString& keyword);
  QStringList lines() const;
  void clear();
  // Lines carry the seconds since this moment (the application's start).
  void markStart();
 private:
  struct LogState;
  std::unique_ptr<LogState> state_;
};
