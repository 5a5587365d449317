#pragma once
// The report library's folders. Every store account keeps its report files in
// a folder of its own under "Reports" in the support folder, named by the
// account key, with one subfolder per kind of report:
//
//   <support folder>/Reports/<account key>/{Daily,Weekly,Monthly,Financial,iAd}
#include <QByteArray>
#include <QString>
#include <QStringList>

#include "core/KVREntities.h"

class KVRVortelyReportsManager {
 public:
  // support folder + "/Reports" (not created here).
  static QString reportsFolder();
  // The subfolders of an account folder: "Daily", "Weekly", "Monthly", "Financial", "iAd".
  static const QStringList& reportSubfolderNames();
  // True for a name usable as one folder name: not null or empty, not "." or
  // "..", and without "/", "\\" or NUL.
  static bool isPlainFolderName(const QString& name);
  // The account folder of that name under "Reports", created with its
  // subfolders when missing. Null (nothing created) for a name that is not a
  // plain folder name, and when the folders cannot be made.
  static QString accountFolderForDevName(const QString& name);
  // The "Financial" subfolder of that account folder, made as above.
  static QString financialReportsSaveFolderForDevName(const QString& name);
};

// SHA-1 of the bytes as 40 lowercase hexadecimal digits.
QString KVRSha1Hex(const QByteArray& data);

// The text that identifies an account's database object:
// "x-vortely://StoreAccount/p<objectID>", objectID being the account's database
// row id, so it stays the same from one run to the next. Null for an account
// not yet saved (objectID 0 or below), which has no lasting identity.
QString KVRAccountObjectIDText(const KVRStoreAccount& account);

// The account key: KVRSha1Hex of the UTF-8 of KVRAccountObjectIDText. It names
// the account's folder under "Reports" and keys its custom product order. Null
// for an account not yet saved.
QString KVRAccountKey(const KVRStoreAccount& account);
