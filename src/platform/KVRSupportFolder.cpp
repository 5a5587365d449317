#include "platform/KVRSupportFolder.h"

#include <QDir>
#include <QStandardPaths>

namespace KVRSupportFolder {

QString path() {
  QString p = qEnvironmentVariable("VORTELY_SUPPORT_FOLDER");
  if (p.isEmpty())
    p = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Pelliro/Vortely");
  QDir().mkpath(p);
  return p;
}

QString file(const QString& name) { return path() + QLatin1Char('/') + name; }

}  // namespace KVRSupportFolder
