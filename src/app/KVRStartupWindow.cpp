#include "app/KVRStartupWindow.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

#include "platform/KVRLocalization.h"

KVRStartupWindow::KVRStartupWindow(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("startupWindow"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 24, 28, 24);
  title_ = new QLabel(KVRLocalized("Loading Vortely..."), this);
  QFont f = title_->font();
  f.setPointSizeF(f.pointSizeF() * 1.4);
  f.setBold(true);
  title_->setFont(f);
  status_ = new QLabel(this);
  status_->setWordWrap(true);  // a wait for the database takes two lines
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* bar = new QProgressBar(this);
  bar->setRange(0, 0);
  bar->setTextVisible(false);
  layout->addWidget(title_);
  layout->addWidget(bar);
  layout->addWidget(status_);
  setFixedSize(360, 136);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void KVRStartupWindow::setStatusText(const QString& text) { status_->setText(text); }
QString KVRStartupWindow::statusText() const { return status_->text(); }
QString KVRStartupWindow::titleText() const { return title_->text(); }
