#include "graphs/KVRCalendarOverlayController.h"

#include <QEvent>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "core/KVRCalendar.h"

KVRCalendarOverlayController::KVRCalendarOverlayController(QObject* parent) : QObject(parent) {
  // A popup closes by itself on a click elsewhere; it also hides when it is
  // deactivated or on Escape (see eventFilter).
  window_ = new QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint);
  window_->setObjectName(QStringLiteral("KVRCalendarOverlay"));
  window_->setAttribute(Qt::WA_ShowWithoutActivating, false);
  auto* layout = new QVBoxLayout(window_);
  layout->setContentsMargins(0, 0, 0, 0);
  calendar_ = new KVRCalendarController(window_);
  calendar_->setDelegate(this);
  layout->addWidget(calendar_);
  window_->resize(calendar_->sizeHint());
  window_->installEventFilter(this);
}

KVRCalendarOverlayController::~KVRCalendarOverlayController() {
  if (window_) {
    window_->removeEventFilter(this);
    delete window_.data();
  }
}

QSize KVRCalendarOverlayController::frameSize() const {
  if (!window_) return QSize(0, 0);
  return window_->frameGeometry().size();
}

void KVRCalendarOverlayController::showWithFrame(const QRect& frame, QDateEdit* picker) {
  if (!window_) return;
  picker_ = picker;
  if (picker) {
    const QDate d = picker->date();
    if (d.isValid())
      calendar_->setSelectedDate(KVRCalendar::shared().dateFromQDate(d));
  }
  if (frame.size().isEmpty())
    window_->move(frame.topLeft());
  else
    window_->setGeometry(frame);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void KVRCalendarOverlayController::hide() {
  if (window_) window_->hide();
}

bool KVRCalendarOverlayController::isVisible() const { return window_ && window_->isVisible(); }

bool KVRCalendarOverlayController::eventFilter(QObject* watched, QEvent* event) {
  // The overlay lives only while it is the active window.
  if (watched == window_) {
    if (event->type() == QEvent::WindowDeactivate) window_->hide();
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) window_->hide();
  }
  return QObject::eventFilter(watched, event);
}

void KVRCalendarOverlayController::selectedDateDidChange(KVRDate date) {
  QDateEdit* picker = picker_;
  if (picker) {
    picker->setDate(KVRCalendar::shared().qDate(date));
  }
  if (delegate_) delegate_->pickerDidChangeDate(picker, date);
}
