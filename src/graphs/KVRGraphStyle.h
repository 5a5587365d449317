#pragma once
// Shared look of the graph views (colours, fonts, small drawing helpers) and
// the value-format helper they use for their labels.
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <optional>

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

}  // namespace KVRGraphStyle

// Applies a value format: every "%@" becomes `value` and every "%%" a percent
// sign ("%@ €" -> "12.50 €", "%@ %%" -> "12.5 %"). A lone "%" is kept as it is.
// No format (nullopt or empty) gives the value alone.
QString KVRApplyValueFormat(const std::optional<QString>& format, const QString& value);

// A number formatted with the shared decimal formatter (currencyFormatter).
QString KVRGraphNumberText(double value);
