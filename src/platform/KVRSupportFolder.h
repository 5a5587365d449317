#pragma once
// The application's support folder: the XDG data folder's "Pelliro/Vortely".
#include <QString>
#include <memory>

class QLockFile;

namespace KVRSupportFolder {
// The folder's path, created when missing. VORTELY_SUPPORT_FOLDER overrides it.
QString path();
// A file or folder name inside it.
QString file(const QString& name);
}  // namespace KVRSupportFolder

// One running application per support folder: a lock file inside the folder,
// held as long as this object lives. A lock left behind by a process that is
// gone (after a crash) is taken over; a lock held by a running process is
// never taken, however old it is.
class KVRSupportFolderLock {
 public:
  enum Outcome { Acquired, HeldByAnotherInstance, Failed };

  explicit KVRSupportFolderLock(const QString& folder);
  ~KVRSupportFolderLock();
  KVRSupportFolderLock(const KVRSupportFolderLock&) = delete;
  KVRSupportFolderLock& operator=(const KVRSupportFolderLock&) = delete;

  // Takes the lock without waiting. On HeldByAnotherInstance, holderPid()
  // names the process that has it; on Failed, errorText() says why.
  Outcome tryLock();
  bool isLocked() const;
  void unlock();
  qint64 holderPid() const { return holderPid_; }
  QString errorText() const { return error_; }
  QString lockFilePath() const;

  // The lock file's name inside the folder.
  static QString lockFileName();

 private:
  QString folder_;
  std::unique_ptr<QLockFile> lock_;
  qint64 holderPid_ = 0;
  QString error_;
};
