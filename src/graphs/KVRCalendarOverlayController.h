#pragma once
// The calendar overlay of the date pickers: a floating frameless window
// holding a month calendar. showWithFrame places it, selects the picker's
// date and brings it to the front; a pick sets the picker's date and tells
// the delegate; the window hides when it stops being the active window.
#include <QDateEdit>
#include <QObject>
#include <QPointer>
#include <QRect>

#include "graphs/KVRCalendarController.h"

class KVRCalendarOverlayDelegate {
 public:
  virtual ~KVRCalendarOverlayDelegate() = default;
  virtual void pickerDidChangeDate(QDateEdit* picker, KVRDate date) = 0;
};

class KVRCalendarOverlayController : public QObject, private KVRCalendarControllerDelegate {
  Q_OBJECT
 public:
  explicit KVRCalendarOverlayController(QObject* parent = nullptr);
  ~KVRCalendarOverlayController() override;

  // Not owned.
  void setDelegate(KVRCalendarOverlayDelegate* delegate) { delegate_ = delegate; }
  KVRCalendarOverlayDelegate* delegate() const { return delegate_; }

  // The size of the window's frame; zero without a window.
  QSize frameSize() const;
  // Remembers the picker, selects its date, places the window at the
  // rectangle (global coordinates; an empty size keeps the window's own
  // size), shows and activates it.
  void showWithFrame(const QRect& frame, QDateEdit* picker);
  void hide();
  bool isVisible() const;

  QWidget* window() const { return window_; }
  KVRCalendarController* calendar() const { return calendar_; }
  QDateEdit* picker() const { return picker_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void selectedDateDidChange(KVRDate date) override;

  QPointer<QWidget> window_;
  KVRCalendarController* calendar_ = nullptr;
  QPointer<QDateEdit> picker_;
  KVRCalendarOverlayDelegate* delegate_ = nullptr;
};
