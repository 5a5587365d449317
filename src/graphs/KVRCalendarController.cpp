#include "graphs/KVRCalendarController.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "core/KVRCalendar.h"
#include "graphs/KVRGraphStyle.h"

namespace {

constexpr qreal kHeader = 32;
constexpr qreal kWeekdays = 20;
constexpr qreal kMargin = 8;

// ISO weekday (1 = Monday ... 7 = Sunday) of a civil day; 1970-01-01 was a Thursday.
int isoWeekday(KVRCivilDay day) {
  const int m = static_cast<int>(((static_cast<long long>(day) % 7) + 7) % 7);
  return (m + 3) % 7 + 1;
}

KVRCivilDay firstOfMonth(KVRCivilDay day) {
  const KVRYMD ymd = KVRYMDFromCivilDay(day);
  return KVRCivilDayFromYMD(ymd.year, ymd.month, 1);
}

}  // namespace

KVRCalendarController::KVRCalendarController(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setMinimumSize(196, 180);
  monthStart_ = firstOfMonth(KVRCalendar::shared().civilDay(KVRDate(static_cast<double>(QDateTime::currentMSecsSinceEpoch()))));
}

KVRCalendarController::~KVRCalendarController() = default;

QSize KVRCalendarController::sizeHint() const { return QSize(224, 212); }

void KVRCalendarController::setAvailableDates(const std::vector<KVRDate>& dates) {
  restricted_ = true;
  availableDays_.clear();
  for (const KVRDate& d : dates) {
    if (!d.isValid()) continue;
    availableDays_.emplace(KVRCalendar::shared().civilDay(d), d);  // the first date of a day wins
  }
  update();
}

void KVRCalendarController::clearAvailableDates() {
  restricted_ = false;
  availableDays_.clear();
  update();
}

bool KVRCalendarController::isDayAvailable(KVRCivilDay day) const {
  return !restricted_ || availableDays_.count(day) > 0;
}

void KVRCalendarController::updateMatrixLabels() { update(); }

void KVRCalendarController::setSelectedDate(KVRDate date) {
  selected_ = date;
  if (date.isValid()) showMonthOf(KVRCalendar::shared().civilDay(date));
  update();
}

void KVRCalendarController::showMonthOf(KVRCivilDay day) {
  monthStart_ = firstOfMonth(day);
  hovered_.reset();
  update();
}

void KVRCalendarController::showPreviousMonth() { showMonthOf(monthStart_ - 1); }

void KVRCalendarController::showNextMonth() { showMonthOf(monthStart_ + 40); }

bool KVRCalendarController::pickDay(KVRCivilDay day) {
  if (!isDayAvailable(day)) return false;
  const KVRDate date = restricted_ ? availableDays_.at(day) : KVRCalendar::shared().dateFromCivilDay(day);
  selected_ = date;
  if (firstOfMonth(day) != monthStart_) showMonthOf(day);
  update();
  emit dateSelected(date);
  if (delegate_) delegate_->selectedDateDidChange(date);
  return true;
}

int KVRCalendarController::firstWeekday() const { return static_cast<int>(locale().firstDayOfWeek()); }

KVRCivilDay KVRCalendarController::gridStart() const {
  const int offset = (isoWeekday(monthStart_) - firstWeekday() + 7) % 7;
  return monthStart_ - offset;
}

QRectF KVRCalendarController::headerRect() const { return QRectF(kMargin, 2, width() - 2 * kMargin, kHeader); }
QRectF KVRCalendarController::previousRect() const {
  const QRectF h = headerRect();
  return QRectF(h.left(), h.top() + 5, 24, h.height() - 10);
}
QRectF KVRCalendarController::nextRect() const {
  const QRectF h = headerRect();
  return QRectF(h.right() - 24, h.top() + 5, 24, h.height() - 10);
}

QRectF KVRCalendarController::rectForDay(KVRCivilDay day) const {
  const int index = day - gridStart();
  if (index < 0 || index >= 42) return QRectF();
  const qreal cellW = (width() - 2 * kMargin) / 7.0;
  const qreal cellH = (height() - kHeader - kWeekdays - kMargin - 2) / 6.0;
  return QRectF(kMargin + (index % 7) * cellW, 2 + kHeader + kWeekdays + (index / 7) * cellH, cellW, cellH);
}

std::optional<KVRCivilDay> KVRCalendarController::dayAt(const QPointF& pos) const {
  const KVRCivilDay start = gridStart();
  for (int i = 0; i < 42; ++i)
    if (rectForDay(start + i).contains(pos)) return start + i;
  return std::nullopt;
}

void KVRCalendarController::paintEvent(QPaintEvent*) {
  using namespace KVRGraphStyle;
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  drawPanel(p, QRectF(rect()));

  // Title and arrows.
  const KVRYMD month = KVRYMDFromCivilDay(monthStart_);
  const QLocale loc = locale();
  p.setFont(uiFont(10.5, true));
  p.setPen(KVRGraphStyle::text());
  p.drawText(headerRect(), Qt::AlignCenter,
             loc.standaloneMonthName(static_cast<int>(month.month)) + u' ' + QString::number(month.year));
  p.setPen(QPen(secondaryText(), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  for (int side = 0; side < 2; ++side) {
    const QRectF r = side == 0 ? previousRect() : nextRect();
    const QPointF c = r.center();
    const qreal d = side == 0 ? 1 : -1;
    QPainterPath chevron;
    chevron.moveTo(c + QPointF(3 * d, -5));
    chevron.lineTo(c + QPointF(-3 * d, 0));
    chevron.lineTo(c + QPointF(3 * d, 5));
    p.drawPath(chevron);
  }

  // Weekday initials.
  const qreal cellW = (width() - 2 * kMargin) / 7.0;
  p.setFont(uiFont(8, true));
  p.setPen(axisText());
  for (int i = 0; i < 7; ++i) {
    const int weekday = (firstWeekday() - 1 + i) % 7 + 1;
    p.drawText(QRectF(kMargin + i * cellW, 2 + kHeader, cellW, kWeekdays), Qt::AlignCenter,
               loc.dayName(weekday, QLocale::ShortFormat).left(2));
  }
  p.setPen(QPen(grid(), 1));
  p.drawLine(QPointF(kMargin, 2 + kHeader + kWeekdays - 0.5), QPointF(width() - kMargin, 2 + kHeader + kWeekdays - 0.5));

  // Day grid.
  const KVRCivilDay start = gridStart();
  const KVRCivilDay today = KVRCalendar::shared().civilDay(KVRDate(static_cast<double>(QDateTime::currentMSecsSinceEpoch())));
  const bool hasSelection = selected_.isValid();
  const KVRCivilDay selectedDay = hasSelection ? KVRCalendar::shared().civilDay(selected_) : 0;
  p.setFont(uiFont(9));
  for (int i = 0; i < 42; ++i) {
    const KVRCivilDay day = start + i;
    const QRectF cell = rectForDay(day);
    const qreal radius = std::min(cell.width(), cell.height()) / 2 - 2;
    const QPointF c = cell.center();
    const bool inMonth = firstOfMonth(day) == monthStart_;
    const bool available = isDayAvailable(day);
    QColor textColor = inMonth ? KVRGraphStyle::text() : QColor(190, 195, 203);
    if (!available) textColor = QColor(200, 204, 210);
    if (hasSelection && selectedDay == day) {
      p.setPen(Qt::NoPen);
      p.setBrush(accent());
      p.drawEllipse(c, radius, radius);
      textColor = Qt::white;
    } else if (hovered_ && *hovered_ == day && available) {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(228, 236, 250));
      p.drawEllipse(c, radius, radius);
    }
    if (day == today && !(hasSelection && selectedDay == day)) {
      p.setPen(QPen(accent(), 1.2));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(c, radius, radius);
    }
    if (restricted_ && available && !(hasSelection && selectedDay == day)) {
      p.setPen(Qt::NoPen);
      p.setBrush(accent());
      p.drawEllipse(QPointF(c.x(), c.y() + radius - 2), 1.6, 1.6);
    }
    QFont f = uiFont(9, available && inMonth && restricted_);
    p.setFont(f);
    p.setPen(textColor);
    p.drawText(cell, Qt::AlignCenter, QString::number(KVRYMDFromCivilDay(day).day));
  }
}

void KVRCalendarController::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const QPointF pos = event->position();
  if (previousRect().contains(pos)) {
    showPreviousMonth();
  } else if (nextRect().contains(pos)) {
    showNextMonth();
  } else if (const auto day = dayAt(pos)) {
    pickDay(*day);
  }
  event->accept();
}

void KVRCalendarController::mouseMoveEvent(QMouseEvent* event) {
  const auto day = dayAt(event->position());
  if (day != hovered_) {
    hovered_ = day;
    update();
  }
  QWidget::mouseMoveEvent(event);
}

void KVRCalendarController::leaveEvent(QEvent* event) {
  hovered_.reset();
  update();
  QWidget::leaveEvent(event);
}
