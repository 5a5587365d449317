// The financial statement fades in at start-up: frame by frame, what the
// window shows never holds a black bar (the grid's header once came out
// black while the statement was drawn through an opacity effect).
#include <QAnimationDriver>
#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/KVRMainWindow.h"
#include "app/KVRVortelyMainController.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "financial/KVRFinancialScreen.h"
#include "financial/KVRFinancialWidgets.h"
#include "platform/KVRMainThread.h"
#include "platform/KVRUserDefaults.h"
#include "sampledata/KVRDatabaseSampleData.h"

namespace {

// Animation time that moves only when the test says so.
class SteppedAnimationDriver : public QAnimationDriver {
 public:
  qint64 elapsed() const override { return now_; }
  void step(qint64 ms) {
    now_ += ms;
    advance();
  }

 private:
  qint64 now_ = 0;
};

// The longest run of pure black pixels on one row of the image's area.
int longestBlackRun(const QImage& image, const QRect& area) {
  int longest = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    int run = 0;
    for (int x = area.left(); x <= area.right(); ++x) {
      run = (image.pixel(x, y) & 0xffffff) == 0 ? run + 1 : 0;
      longest = std::max(longest, run);
    }
  }
  return longest;
}

}  // namespace

TEST(StartupFade, TheStatementFadesInWithoutABlackBar) {
  QTemporaryDir support;
  ASSERT_TRUE(support.isValid());
  KVRSampleDataOptions options;
  options.size = KVRSampleDataSize::Small;
  options.outFolder = support.path();
  options.lastDay = KVRCivilDayFromYMD(2011, 11, 20);
  KVRSampleDataSummary summary;
  QString error;
  ASSERT_TRUE(KVRGenerateSampleData(options, &summary, &error)) << error.toStdString();
  // The financial statements are the screen on show at start-up.
  KVRUserDefaults::standard().setInteger("KVRVortelySelectedTab", 1);

  SteppedAnimationDriver driver;
  driver.install();
  auto controller = std::make_unique<KVRVortelyMainController>();
  controller->setStorePath(summary.databasePath);
  controller->setAlertPresenter([](QWidget*, const QString&, const QString&) {});
  controller->applicationDidFinishLaunching();
  ASSERT_TRUE(KVRMainThread::waitUntil([&] { return controller->startupFinished(); }, 60));
  KVRMainWindow* window = controller->mainWindow();
  ASSERT_TRUE(window->isVisible());
  KVRFinancialScreen* screen = controller->financialScreen();
  const QRect page(screen->mapTo(window, QPoint()), screen->size());
  const QPoint header = screen->regionGrid()->mapTo(window, QPoint(4, 4));

  // Every frame of the options bar closing up and the statement fading in.
  int worst = 0, worstFrame = -1;
  QImage last;
  for (int frame = 0; frame <= 40; ++frame) {
    QApplication::processEvents();
    last = QGuiApplication::primaryScreen()->grabWindow(window->winId()).toImage();
    // Before the fade begins nothing of the statement shows: the page's colour.
    if (frame == 0) EXPECT_EQ(QColor(last.pixel(header)), QColor(0xee, 0xf1, 0xf4));
    const int run = longestBlackRun(last, page.intersected(last.rect()));
    if (run > worst) {
      worst = run;
      worstFrame = frame;
    }
    driver.step(25);
  }
  EXPECT_LT(worst, 20) << "a black run of " << worst << " pixels in frame " << worstFrame;
  // The statement is there at the end: the grid's header on the white panel.
  EXPECT_EQ(QColor(last.pixel(header)), QColor(Qt::white));

  driver.uninstall();
  controller.reset();
  KVRVortelyCoreDataManager::sharedInstance().closeStore();
  KVRUserDefaults::standard().setInteger("KVRVortelySelectedTab", 0);
}
