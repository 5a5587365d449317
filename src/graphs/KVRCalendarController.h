#pragma once
// A month calendar: the month's title with previous/next arrows, the weekday
// initials and a grid of six weeks. Days can be restricted to a list of
// available dates; a click on a pickable day selects it and tells the
// delegate. Days are those of the shared calendar (user's time zone).
#include <QWidget>
#include <optional>
#include <map>
#include <vector>

#include "platform/KVRDate.h"

class KVRCalendarControllerDelegate {
 public:
  virtual ~KVRCalendarControllerDelegate() = default;
  virtual void selectedDateDidChange(KVRDate date) = 0;
};

class KVRCalendarController : public QWidget {
  Q_OBJECT
 public:
  explicit KVRCalendarController(QWidget* parent = nullptr);
  ~KVRCalendarController() override;

  // Not owned.
  void setDelegate(KVRCalendarControllerDelegate* delegate) { delegate_ = delegate; }
  KVRCalendarControllerDelegate* delegate() const { return delegate_; }

  // Only the days of these dates may be picked (an empty list: none). Until
  // the first call every day may be picked.
  void setAvailableDates(const std::vector<KVRDate>& dates);
  // Every day may be picked again.
  void clearAvailableDates();
  bool isDayAvailable(KVRCivilDay day) const;
  // Redraws the month grid.
  void updateMatrixLabels();

  // Selects a date (its day) and shows its month; tells nobody.
  void setSelectedDate(KVRDate date);
  KVRDate selectedDate() const { return selected_; }
  // The first day of the month on show.
  KVRCivilDay displayedMonth() const { return monthStart_; }
  void showMonthOf(KVRCivilDay day);
  void showPreviousMonth();
  void showNextMonth();

  // A pick as a click does: refused (false) for a day that cannot be picked;
  // else selects the day and sends selectedDateDidChange with the available
  // date of that day (midnight of the day when every day may be picked).
  bool pickDay(KVRCivilDay day);
  // The grid cell of a day of the month on show (empty when not on show).
  QRectF rectForDay(KVRCivilDay day) const;
  QSize sizeHint() const override;

 signals:
  void dateSelected(KVRDate date);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QRectF headerRect() const;
  QRectF previousRect() const;
  QRectF nextRect() const;
  KVRCivilDay gridStart() const;
  int firstWeekday() const;  // 1 = Monday ... 7 = Sunday (QLocale's numbering)
  std::optional<KVRCivilDay> dayAt(const QPointF& pos) const;

  KVRCalendarControllerDelegate* delegate_ = nullptr;
  bool restricted_ = false;  // false: every day may be picked
  std::map<KVRCivilDay, KVRDate> availableDays_;  // day -> the available date of that day
  KVRDate selected_;
  KVRCivilDay monthStart_ = 0;
  std::optional<KVRCivilDay> hovered_;
};
