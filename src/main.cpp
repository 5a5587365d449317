// The application's entry point: starts the application delegate. With
// "--screenshot <folder>" it instead starts on the offscreen-capable path,
// waits for the start-up load and writes screenshots of the main window.
// Either way the support folder is claimed first: a second start on a folder
// that a running Vortely holds says so and quits (exit status 1).
#include <QApplication>
#include <QStringList>

#include "app/KVRInstanceLock.h"
#include "app/KVRScreenshotRunner.h"
#include "app/KVRVortelyMainController.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Pelliro");
  QApplication::setApplicationName("Vortely");
  // Closing the main window quits, but only after the database was saved.
  QApplication::setQuitOnLastWindowClosed(false);

  KVRInstanceRefusal refusal;
  const std::unique_ptr<KVRSupportFolderLock> folderLock = KVRClaimSupportFolder(KVRSupportFolder::path(), &refusal);
  if (!folderLock) {
    KVRShowInstanceRefusal(refusal);
    return 1;
  }

  const QStringList args = QApplication::arguments();
  const int shot = int(args.indexOf(QStringLiteral("--screenshot")));
  if (shot >= 0 && shot + 1 < args.size()) return KVRRunScreenshots(args.at(shot + 1));

  KVRVortelyMainController controller;
  controller.applicationDidFinishLaunching();
  return app.exec();
}
