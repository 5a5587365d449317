#pragma once
// The default notification centre: observers by name (and optionally object),
// posting on the calling thread, and through the notification envelope on the
// main thread.
#include <QString>
#include <QVariantMap>
#include <functional>

struct KVRNotification {
  QString name;
  const void* object = nullptr;
  QVariantMap userInfo;
};

// The record a background thread hands to sendNotification to have a
// notification posted on the main thread.
struct KVRNotificationEnvelope {
  QString NotificationName;
  const void* NotificationObject = nullptr;
  QVariantMap NotificationUserInfo;
};

class KVRNotificationCenter {
 public:
  using Handler = std::function<void(const KVRNotification&)>;
  static KVRNotificationCenter& defaultCenter();

  // Registers handler for the name; object null observes every object.
  // observer identifies the registration for removeObserver.
  void addObserver(const void* observer, const QString& name, const void* object, Handler handler);
  void removeObserver(const void* observer);
  void removeObserver(const void* observer, const QString& name);

  // Delivers synchronously on the calling thread to the observers registered
  // when the post starts.
  void postNotification(const QString& name, const void* object = nullptr,
                        const QVariantMap& userInfo = {});
  // Posts the envelope's notification on the main thread (queued).
  void sendNotification(const KVRNotificationEnvelope& envelope);
};
