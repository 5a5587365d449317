#include "app/KVRInstanceLock.h"

#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

#include "platform/KVRLocalization.h"

std::unique_ptr<KVRSupportFolderLock> KVRClaimSupportFolder(const QString& folder, KVRInstanceRefusal* refusal) {
  auto lock = std::make_unique<KVRSupportFolderLock>(folder);
  const KVRSupportFolderLock::Outcome outcome = lock->tryLock();
  if (outcome == KVRSupportFolderLock::Acquired) return lock;
  const QString where = QDir::toNativeSeparators(folder);
  if (outcome == KVRSupportFolderLock::HeldByAnotherInstance) {
    refusal->title = KVRLocalized("Vortely is already open");
    refusal->text = KVRLocalized("Vortely already has the folder “%1” open. Only one Vortely at a time can use it: "
                                 "switch to the Vortely that is open. This one quits without changing anything.")
                        .arg(where);
  } else {
    refusal->title = KVRLocalized("Vortely cannot use its folder");
    refusal->text = KVRLocalized("%1\n\nVortely needs the folder “%2” for itself and quits without changing anything.")
                        .arg(lock->errorText(), where);
  }
  return nullptr;
}

void KVRShowInstanceRefusal(const KVRInstanceRefusal& refusal) {
  std::fprintf(stderr, "%s\n%s\n", qPrintable(refusal.title), qPrintable(refusal.text));
  std::fflush(stderr);
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return;
  QMessageBox box(QMessageBox::Warning, refusal.title, refusal.title, QMessageBox::Ok);
  box.setInformativeText(refusal.text);
  box.exec();
}
