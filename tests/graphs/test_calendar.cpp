// The month calendar (available dates, picks, month steps) and its overlay
// window (picker date in and out, delegate, hiding).
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QDateEdit>
#include <QKeyEvent>
#include <QMouseEvent>

#include "core/KVRCalendar.h"
#include "graphs/KVRCalendarController.h"
#include "graphs/KVRCalendarOverlayController.h"
#include "render_dir.h"

namespace {

struct RecordingCalendarDelegate : KVRCalendarControllerDelegate {
  std::vector<KVRDate> dates;
  void selectedDateDidChange(KVRDate date) override { dates.push_back(date); }
};

struct RecordingOverlayDelegate : KVRCalendarOverlayDelegate {
  std::vector<std::pair<QDateEdit*, KVRDate>> calls;
  void pickerDidChangeDate(QDateEdit* picker, KVRDate date) override { calls.emplace_back(picker, date); }
};

KVRDate dateOf(int y, int m, int d, int hour = 0) {
  KVRDateComponents c = KVRDateComponents::ymd(y, m, d);
  c.hour = hour;
  return KVRCalendar::shared().dateFromComponents(c);
}

void click(QWidget& w, const QPointF& pos) {
  QMouseEvent press(QEvent::MouseButtonPress, pos, w.mapToGlobal(pos), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &press);
}

}  // namespace

TEST(CalendarController, OnlyAvailableDaysCanBePicked) {
  KVRCalendarController calendar;
  RecordingCalendarDelegate delegate;
  calendar.setDelegate(&delegate);
  const KVRDate march3Noon = dateOf(2026, 3, 3, 12);
  calendar.setAvailableDates({march3Noon, dateOf(2026, 3, 20), KVRDate()});
  const KVRCivilDay march3 = KVRCivilDayFromYMD(2026, 3, 3);
  EXPECT_TRUE(calendar.isDayAvailable(march3));
  EXPECT_TRUE(calendar.isDayAvailable(KVRCivilDayFromYMD(2026, 3, 20)));
  EXPECT_FALSE(calendar.isDayAvailable(KVRCivilDayFromYMD(2026, 3, 4)));

  EXPECT_FALSE(calendar.pickDay(march3 + 1));
  EXPECT_TRUE(delegate.dates.empty());
  EXPECT_TRUE(calendar.pickDay(march3));
  // The delegate gets the available date itself, not the day's midnight.
  ASSERT_EQ(delegate.dates.size(), 1u);
  EXPECT_EQ(delegate.dates[0], march3Noon);
  EXPECT_EQ(calendar.selectedDate(), march3Noon);
  EXPECT_EQ(calendar.displayedMonth(), KVRCivilDayFromYMD(2026, 3, 1));

  calendar.setAvailableDates({});
  EXPECT_FALSE(calendar.isDayAvailable(march3));
  EXPECT_FALSE(calendar.pickDay(march3));
  calendar.clearAvailableDates();
  EXPECT_TRUE(calendar.pickDay(march3 + 1));
  EXPECT_EQ(delegate.dates.back(), dateOf(2026, 3, 4));
}

TEST(CalendarController, ClickOnADayPicksIt) {
  KVRCalendarController calendar;
  calendar.resize(224, 212);
  RecordingCalendarDelegate delegate;
  calendar.setDelegate(&delegate);
  calendar.setSelectedDate(dateOf(2026, 12, 7));
  EXPECT_TRUE(delegate.dates.empty());  // selecting from code tells nobody
  const KVRCivilDay day = KVRCivilDayFromYMD(2026, 12, 24);
  const QRectF cell = calendar.rectForDay(day);
  ASSERT_FALSE(cell.isEmpty());
  click(calendar, cell.center());
  ASSERT_EQ(delegate.dates.size(), 1u);
  EXPECT_EQ(delegate.dates[0], dateOf(2026, 12, 24));
  // A day outside the grid has no cell.
  EXPECT_TRUE(calendar.rectForDay(KVRCivilDayFromYMD(2027, 3, 1)).isEmpty());
  saveRender(calendar.grab().toImage(), "calendar.png");
}

TEST(CalendarController, MonthSteps) {
  KVRCalendarController calendar;
  calendar.resize(224, 212);
  calendar.setSelectedDate(dateOf(2026, 12, 31));
  EXPECT_EQ(calendar.displayedMonth(), KVRCivilDayFromYMD(2026, 12, 1));
  calendar.showNextMonth();
  EXPECT_EQ(calendar.displayedMonth(), KVRCivilDayFromYMD(2027, 1, 1));
  calendar.showNextMonth();
  EXPECT_EQ(calendar.displayedMonth(), KVRCivilDayFromYMD(2027, 2, 1));
  calendar.showPreviousMonth();
  calendar.showPreviousMonth();
  calendar.showPreviousMonth();
  EXPECT_EQ(calendar.displayedMonth(), KVRCivilDayFromYMD(2026, 11, 1));
  // The grid starts on the locale's first weekday and holds the whole month.
  for (int d = 1; d <= 30; ++d) EXPECT_FALSE(calendar.rectForDay(KVRCivilDayFromYMD(2026, 11, d)).isEmpty());
  // Clicking the arrows steps the month.
  click(calendar, QPointF(18, 18));
  EXPECT_EQ(calendar.displayedMonth(), KVRCivilDayFromYMD(2026, 10, 1));
  click(calendar, QPointF(calendar.width() - 18, 18));
  EXPECT_EQ(calendar.displayedMonth(), KVRCivilDayFromYMD(2026, 11, 1));
}

TEST(CalendarOverlay, ShowsThePickerDateAndWritesThePick) {
  KVRCalendarOverlayController overlay;
  RecordingOverlayDelegate delegate;
  overlay.setDelegate(&delegate);
  EXPECT_GT(overlay.frameSize().width(), 0);
  EXPECT_GT(overlay.frameSize().height(), 0);

  QDateEdit picker(QDate(2026, 3, 15));
  const QRect frame(100, 120, 230, 215);
  overlay.showWithFrame(frame, &picker);
  EXPECT_TRUE(overlay.isVisible());
  EXPECT_EQ(overlay.picker(), &picker);
  EXPECT_EQ(overlay.window()->geometry(), frame);
  EXPECT_EQ(overlay.calendar()->selectedDate(), dateOf(2026, 3, 15));
  EXPECT_EQ(overlay.calendar()->displayedMonth(), KVRCivilDayFromYMD(2026, 3, 1));

  ASSERT_TRUE(overlay.calendar()->pickDay(KVRCivilDayFromYMD(2026, 3, 20)));
  EXPECT_EQ(picker.date(), QDate(2026, 3, 20));
  ASSERT_EQ(delegate.calls.size(), 1u);
  EXPECT_EQ(delegate.calls[0].first, &picker);
  EXPECT_EQ(delegate.calls[0].second, dateOf(2026, 3, 20));
  saveRender(overlay.window()->grab().toImage(), "calendar_overlay.png");

  // Escape hides it; showing it again keeps the picker.
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(overlay.window(), &escape);
  EXPECT_FALSE(overlay.isVisible());
  overlay.showWithFrame(frame, &picker);
  EXPECT_TRUE(overlay.isVisible());
  // Losing the active state hides the overlay.
  QEvent deactivate(QEvent::WindowDeactivate);
  QCoreApplication::sendEvent(overlay.window(), &deactivate);
  EXPECT_FALSE(overlay.isVisible());
}

TEST(CalendarOverlay, PickerGoneBeforeThePick) {
  KVRCalendarOverlayController overlay;
  RecordingOverlayDelegate delegate;
  overlay.setDelegate(&delegate);
  auto* picker = new QDateEdit(QDate(2026, 5, 2));
  overlay.showWithFrame(QRect(10, 10, 0, 0), picker);
  EXPECT_EQ(overlay.window()->pos(), QPoint(10, 10));  // an empty frame keeps the window's size
  EXPECT_GT(overlay.frameSize().width(), 0);
  delete picker;
  ASSERT_TRUE(overlay.calendar()->pickDay(KVRCivilDayFromYMD(2026, 5, 9)));
  ASSERT_EQ(delegate.calls.size(), 1u);
  EXPECT_EQ(delegate.calls[0].first, nullptr);
  overlay.hide();
  EXPECT_FALSE(overlay.isVisible());
}
