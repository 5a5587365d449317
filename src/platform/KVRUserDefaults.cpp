#include "platform/KVRUserDefaults.h"

#include <QDateTime>
#include <QEvent>
#include <QSettings>
#include <QThreadPool>
#include <QStringList>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>

namespace {

// The settings write their file a moment after a change, on the thread that
// made them: that write (and its flush to the disk) is done on a pool thread
// instead, under the store's lock, so that no click waits for the disk.
class DelayedWrite : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

struct Store {
  mutable std::mutex lock;
  std::unique_ptr<DelayedWrite> delayedWrite;  // outlives the settings it watches
  std::unique_ptr<QSettings> settings;

  void install(std::unique_ptr<QSettings> s) {
    settings = std::move(s);
    delayedWrite = std::make_unique<DelayedWrite>();
    settings->installEventFilter(delayedWrite.get());
  }
  QSettings& get() {
    if (!settings)
      install(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Pelliro"),
                                          QStringLiteral("Vortely")));
    return *settings;
  }
};

Store& store() {
  static Store s;
  return s;
}

bool DelayedWrite::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::UpdateRequest) return QObject::eventFilter(watched, event);
  QThreadPool::globalInstance()->start([] {
    Store& s = store();
    std::lock_guard<std::mutex> g(s.lock);
    if (s.settings) s.settings->sync();
  });
  return true;
}

std::atomic<unsigned long long> changes{0};

QVariant read(const QString& key) {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  return s.get().value(key);
}

void write(const QString& key, const QVariant& value) {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  s.get().setValue(key, value);
  changes.fetch_add(1, std::memory_order_release);
}

bool isNumberType(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
      return true;
    default:
      return false;
  }
}

// A number, whether kept typed in memory or read back as text from the file.
bool readNumber(const QVariant& v, double* out) {
  if (isNumberType(v)) {
    *out = v.toDouble();
    return true;
  }
  if (v.typeId() == QMetaType::QString) {
    const QString t = v.toString().trimmed();
    if (t == QLatin1String("true")) { *out = 1; return true; }
    if (t == QLatin1String("false")) { *out = 0; return true; }
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (ok) { *out = d; return true; }
  }
  return false;
}

}  // namespace

KVRUserDefaults& KVRUserDefaults::standard() {
  static KVRUserDefaults defaults;
  return defaults;
}

long long KVRUserDefaults::integerForKey(const QString& key) const {
  const QVariant v = read(key);
  if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int) return v.toLongLong();
  if (v.typeId() == QMetaType::QString) {
    bool ok = false;
    const long long n = v.toString().trimmed().toLongLong(&ok);
    if (ok) return n;
  }
  double d = 0;
  if (!readNumber(v, &d) || !(d > -9.2e18 && d < 9.2e18)) return 0;
  return static_cast<long long>(d);
}

bool KVRUserDefaults::boolForKey(const QString& key) const {
  const QVariant v = read(key);
  if (v.typeId() == QMetaType::QString) {
    const QString t = v.toString().trimmed().toLower();
    if (t == QLatin1String("yes")) return true;
  }
  double d = 0;
  return readNumber(v, &d) && d != 0;
}

float KVRUserDefaults::floatForKey(const QString& key) const {
  return static_cast<float>(doubleForKey(key));
}

double KVRUserDefaults::doubleForKey(const QString& key) const {
  double d = 0;
  return readNumber(read(key), &d) ? d : 0.0;
}

QString KVRUserDefaults::stringForKey(const QString& key) const {
  const QVariant v = read(key);
  if (v.typeId() == QMetaType::QString) return v.toString();
  if (isNumberType(v)) return v.toString();
  return QString();
}

KVRDate KVRUserDefaults::dateForKey(const QString& key) const {
  const QVariant v = read(key);
  if (v.typeId() == QMetaType::QDateTime) {
    const QDateTime t = v.toDateTime();
    return t.isValid() ? KVRDate(static_cast<double>(t.toMSecsSinceEpoch())) : KVRDate();
  }
  if (v.typeId() == QMetaType::QString) {
    const QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    if (t.isValid()) return KVRDate(static_cast<double>(t.toMSecsSinceEpoch()));
  }
  return KVRDate();
}

QVariantList KVRUserDefaults::arrayForKey(const QString& key) const {
  const QVariant v = read(key);
  if (v.typeId() == QMetaType::QVariantList) return v.toList();
  if (v.typeId() == QMetaType::QStringList) return v.toList();
  return {};
}

QVariant KVRUserDefaults::objectForKey(const QString& key) const { return read(key); }

bool KVRUserDefaults::hasKey(const QString& key) const {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  return s.get().contains(key);
}

void KVRUserDefaults::setInteger(const QString& key, long long value) { write(key, value); }
void KVRUserDefaults::setBool(const QString& key, bool value) { write(key, value); }
void KVRUserDefaults::setFloat(const QString& key, float value) {
  write(key, static_cast<double>(value));
}
void KVRUserDefaults::setDouble(const QString& key, double value) { write(key, value); }
void KVRUserDefaults::setString(const QString& key, const QString& value) { write(key, value); }

void KVRUserDefaults::setDate(const QString& key, KVRDate value) {
  if (!value.isValid()) {
    removeObjectForKey(key);
    return;
  }
  const QDateTime t = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(value.ms)), Qt::UTC);
  write(key, t.toString(Qt::ISODateWithMs));
}

void KVRUserDefaults::setArray(const QString& key, const QVariantList& value) {
  write(key, value);
}

void KVRUserDefaults::setObject(const QString& key, const QVariant& value) {
  if (!value.isValid()) {
    removeObjectForKey(key);
    return;
  }
  write(key, value);
}

void KVRUserDefaults::removeObjectForKey(const QString& key) {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  s.get().remove(key);
  changes.fetch_add(1, std::memory_order_release);
}

bool KVRUserDefaults::synchronize() {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  s.get().sync();
  return s.get().status() == QSettings::NoError;
}

void KVRUserDefaults::useFile(const QString& iniPath) {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  if (s.settings) s.settings->sync();
  s.install(std::make_unique<QSettings>(iniPath, QSettings::IniFormat));
  changes.fetch_add(1, std::memory_order_release);
}

unsigned long long KVRUserDefaults::changeCount() { return changes.load(std::memory_order_acquire); }
