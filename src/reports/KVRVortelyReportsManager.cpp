#include "reports/KVRVortelyReportsManager.h"

#include <QDir>
#include <QFileInfo>
#include <openssl/evp.h>

#include "platform/KVRVortelyLogCenter.h"
#include "platform/KVRSupportFolder.h"

namespace {

const QString kLogKeyword = QStringLiteral("Reports Manager");

}  // namespace

QString KVRVortelyReportsManager::reportsFolder() {
  return KVRSupportFolder::file(QStringLiteral("Reports"));
}

const QStringList& KVRVortelyReportsManager::reportSubfolderNames() {
  static const QStringList names = {QStringLiteral("Daily"), QStringLiteral("Weekly"),
                                    QStringLiteral("Monthly"), QStringLiteral("Financial"),
                                    QStringLiteral("iAd")};
  return names;
}

bool KVRVortelyReportsManager::isPlainFolderName(const QString& name) {
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
  for (const QChar c : name)
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() == 0) return false;
  return true;
}

QString KVRVortelyReportsManager::accountFolderForDevName(const QString& name) {
  if (!isPlainFolderName(name)) return QString();
  const QString folder = reportsFolder() + QLatin1Char('/') + name;
  QDir dir;
  for (const QString& sub : reportSubfolderNames()) {
    const QString path = folder + QLatin1Char('/') + sub;
    if (!dir.mkpath(path) || !QFileInfo(path).isDir()) {
      KVRVortelyLogCenter::sharedInstance().addLogEntry(
          QStringLiteral("Could not create the report folder %1").arg(path), false, kLogKeyword);
      return QString();
    }
  }
  return folder;
}

QString KVRVortelyReportsManager::financialReportsSaveFolderForDevName(const QString& name) {
  const QString folder = accountFolderForDevName(name);
  if (folder.isNull()) return QString();
  return folder + QStringLiteral("/Financial");
}

QString KVRSha1Hex(const QByteArray& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.constData(), static_cast<size_t>(data.size()), digest, &length, EVP_sha1(),
                 nullptr) != 1 ||
      length != 20)
    return QString();
  return QString::fromLatin1(
      QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length)).toHex());
}

QString KVRAccountObjectIDText(const KVRStoreAccount& account) {
  if (account.objectID <= 0) return QString();
  return QStringLiteral("x-vortely://StoreAccount/p%1").arg(account.objectID);
}

QString KVRAccountKey(const KVRStoreAccount& account) {
  const QString text = KVRAccountObjectIDText(account);
  if (text.isNull()) return QString();
  return KVRSha1Hex(text.toUtf8());
}
