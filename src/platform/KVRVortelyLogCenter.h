#pragma once
// The shared in-memory log of time-stamped lines with keywords.
#include <QString>
#include <QStringList>

class KVRVortelyLogCenter {
 public:
  static KVRVortelyLogCenter& sharedInstance();
  // Appends "%@ - [%lus] %@ - %@" (date, seconds since start, keyword, message);
  // also to the console when asked. Any thread.
  void addLogEntry(const QString& message, bool showInConsole, const QString& keyword);
  QStringList lines() const;
  void clear();
  // Lines carry the seconds since this moment (the application's start).
  void markStart();
};
