#pragma once
// The application's support folder: the XDG data folder's "Pelliro/Vortely".
#include <QString>

namespace KVRSupportFolder {
// The folder's path, created when missing. VORTELY_SUPPORT_FOLDER overrides it.
QString path();
// A file or folder name inside it.
QString file(const QString& name);
}  // namespace KVRSupportFolder
