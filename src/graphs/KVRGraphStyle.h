#pragma once
// Shared look of the graph views (colours, fonts, small drawing helpers) and
// the value-format helper they use for their labels.
#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <functional>
#include <optional>

class QEvent;
class QWidget;

namespace KVRGraphStyle {

// Background, frame, grid and text colours of every graph view.
QColor background();
QColor plotBackground();
QColor frame();
QColor grid();
QColor axisText();
QColor text();
QColor secondaryText();
QColor accent();

QFont uiFont(qreal pointSize, bool bold = false);

// The soft rounded panel every view draws first.
void drawPanel(QPainter& p, const QRectF& r);
// The centred "Loading..." state with three dots.
void drawLoading(QPainter& p, const QRectF& r);
// A centred grey message (for an empty chart).
void drawMessage(QPainter& p, const QRectF& r, const QString& message);

// What every chart's render does first: saves the painter, turns antialiasing
// on and draws the panel. The painter is restored when the scope ends, on
// every way out of the render.
class PanelScope {
 public:
  PanelScope(QPainter& p, const QRectF& area);
  ~PanelScope() { p_.restore(); }
  PanelScope(const PanelScope&) = delete;
  PanelScope& operator=(const PanelScope&) = delete;

 private:
  QPainter& p_;
};

// A name made to fit a width: elided in the middle, keeping a closing
// parenthesised suffix such as " (iOS)" whole, since it tells apart names
// that begin alike.
QString elidedName(const QFontMetricsF& metrics, const QString& name, qreal width);

// A chart's tooltip: on a tooltip event, shows the legend under the pointer
// (legendAt) or hides the tooltip where there is none, and answers true;
// false for any other event.
bool showLegendToolTip(QWidget* view, QEvent* event, const std::function<QString(const QPointF&)>& legendAt);

// A part's or curve's colour; the accent when it has none.
inline QColor colorOrAccent(const QColor& c) { return c.isValid() ? c : accent(); }
// A part's animation ratio within [0, 1]; 1 when it is no number.
float animationRatio(float ratio);
// A fraction as a percentage: 0.253 -> "25.30 %"; no number counts as 0.
QString percentText(float fraction);
// A value in the form its format stands for (KVRFormattedValueText): counts
// whole, money with two decimals (whole units when wholeMoney), percentages
// with two decimals.
QString valueText(const std::optional<QString>& format, double value, bool wholeMoney = false);
// A part's label: its value (showValuesInsteadOfPercent == 1) or its share.
QString partLabel(int showValuesInsteadOfPercent, const std::optional<QString>& format, double value, float percent,
                  bool wholeMoney = false);

}  // namespace KVRGraphStyle

// Applies a value format: every "%@" becomes `value` and every "%%" a percent
// sign ("%@ €" -> "12.50 €", "%@ %%" -> "12.5 %"). A lone "%" is kept as it is.
// No format (nullopt or empty) gives the value alone.
QString KVRApplyValueFormat(const std::optional<QString>& format, const QString& value);

// A number formatted with the shared decimal formatter (currencyFormatter).
QString KVRGraphNumberText(double value);
