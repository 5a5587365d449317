#pragma once
// The stock images of the overview and the product list, drawn at the size
// asked: "up_arrow", "down_arrow", "noev_arrow", "evolution_green",
// "evolution_red", "evolution_blue", "inapp", "ebook", "productMultipleIcon",
// "productNoIcon", "accountNoIcon", "accountMultipleIcon". A null image for
// any other name or an empty size.
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

class QPainter;

QImage KVRStockImage(const QString& name, const QSize& size, qreal devicePixelRatio = 1.0);
// Draws the same image into a rectangle of any painter: as shapes, so that a
// printed page keeps it sharp. False for an unknown name or an empty rectangle.
bool KVRDrawStockImage(QPainter& painter, const QString& name, const QRectF& rect);
