#pragma once
// User defaults on QSettings. Nothing is registered: an absent key reads as 0,
// NO, an empty string, no date or an empty array, and so does a value of the
// wrong kind. Safe to use from any thread.
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include "platform/KVRDate.h"

class KVRUserDefaults {
 public:
  static KVRUserDefaults& standard();

  long long integerForKey(const QString& key) const;
  bool boolForKey(const QString& key) const;
  float floatForKey(const QString& key) const;
  double doubleForKey(const QString& key) const;
  QString stringForKey(const QString& key) const;      // null QString when absent
  KVRDate dateForKey(const QString& key) const;         // invalid when absent
  QVariantList arrayForKey(const QString& key) const;   // e.g. records as QVariantMap
  QVariant objectForKey(const QString& key) const;      // invalid when absent
  bool hasKey(const QString& key) const;

  void setInteger(const QString& key, long long value);
  void setBool(const QString& key, bool value);
  void setFloat(const QString& key, float value);
  void setDouble(const QString& key, double value);
  void setString(const QString& key, const QString& value);
  void setDate(const QString& key, KVRDate value);      // an invalid date removes the key
  void setArray(const QString& key, const QVariantList& value);
  void setObject(const QString& key, const QVariant& value);
  void removeObjectForKey(const QString& key);
  // Writes the settings file now; false when it could not be written.
  bool synchronize();

  // Points the defaults at a settings file of its own (tests, tools).
  void useFile(const QString& iniPath);

  // Grows with every write, removal or change of file: a reader that keeps
  // a value it read needs to read it again only when this has moved.
  static unsigned long long changeCount();
};
