#include "icons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>

namespace tarn::dbsendapp {
namespace {

constexpr double kDesign = 32.0;  // drawn on a 32 x 32 grid, then scaled

}  // namespace

QImage applicationImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter g(&image);
    g.setRenderHint(QPainter::Antialiasing);
    const double scale = size / kDesign;
    g.scale(scale, scale);
    const double pen = std::max(1.0 / scale, 1.2);
    // A green tile (the group send's is blue), a table's cylinder, and a
    // white envelope in front of it.
    QLinearGradient tile(0, 0, 0, 32);
    tile.setColorAt(0, QColor(0x3F, 0xA3, 0x6B));
    tile.setColorAt(1, QColor(0x1E, 0x6B, 0x43));
    g.setPen(Qt::NoPen);
    g.setBrush(tile);
    g.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);

    const QColor rim(0x8A, 0x5A, 0x00);
    g.setPen(QPen(rim, pen * 0.8));
    g.setBrush(QColor(0xFF, 0xC8, 0x4A));
    QPainterPath body;
    body.moveTo(5, 7);
    body.lineTo(5, 19);
    body.arcTo(QRectF(5, 16, 16, 6), 180, 180);
    body.lineTo(21, 7);
    body.closeSubpath();
    g.drawPath(body);
    g.drawEllipse(QRectF(5, 4, 16, 6));
    g.setBrush(Qt::NoBrush);
    g.drawArc(QRectF(5, 8.5, 16, 6), 180 * 16, 180 * 16);
    g.drawArc(QRectF(5, 12.5, 16, 6), 180 * 16, 180 * 16);

    g.setPen(QPen(QColor(0x1E, 0x4F, 0x35), pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    g.setBrush(Qt::white);
    g.drawRoundedRect(QRectF(12.5, 15, 16, 12), 1.5, 1.5);
    g.setBrush(Qt::NoBrush);
    g.drawPolyline(QPolygonF({QPointF(13, 16), QPointF(20.5, 22), QPointF(28, 16)}));
    return image;
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(QPixmap::fromImage(applicationImage(size)));
    }
    return icon;
}

}  // namespace tarn::dbsendapp
