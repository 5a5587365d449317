#pragma once
// A veil over a whole window that swallows every mouse and key event while
// the application saves before quitting.
#include <QWidget>

class KVRBusyOverlay : public QWidget {
  Q_OBJECT
 public:
  explicit KVRBusyOverlay(QWidget* window);
  void cover();     // shown over the whole window, raised, takes the focus
  void uncover();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
};
