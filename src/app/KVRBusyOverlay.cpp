#include "app/KVRBusyOverlay.h"

#include <QEvent>
#include <QPainter>

KVRBusyOverlay::KVRBusyOverlay(QWidget* window) : QWidget(window) {
  setObjectName(QStringLiteral("busyOverlay"));
  setFocusPolicy(Qt::StrongFocus);
  hide();
  window->installEventFilter(this);
}

void KVRBusyOverlay::cover() {
  setGeometry(parentWidget()->rect());
  show();
  raise();
  setFocus(Qt::OtherFocusReason);
}

void KVRBusyOverlay::uncover() { hide(); }

bool KVRBusyOverlay::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
  return QWidget::eventFilter(watched, event);
}

void KVRBusyOverlay::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(0, 0, 0, 60));
}

bool KVRBusyOverlay::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
      event->accept();
      return true;
    default:
      return QWidget::event(event);
  }
}
