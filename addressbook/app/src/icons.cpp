#include "icons.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <array>
#include <cmath>
#include <map>
#include <utility>

#include "common/program.h"

namespace tarn::gpsend {

namespace {

// Every shape is drawn in a 32 x 32 design square, scaled to the size asked for.
constexpr double kDesign = 32.0;

enum class Shape {
    Sheet,
    Folder,
    People,
    Star,
    Heart,
    Building,
    Envelope,
    Flag,
    Tag,
    Diamond,
    Book
};

constexpr std::array<QRgb, 10> kPalette = {
    qRgb(0xF2, 0xC2, 0x30),  // yellow
    qRgb(0x3B, 0x7D, 0xD8),  // blue
    qRgb(0x3F, 0xA3, 0x4D),  // green
    qRgb(0xD9, 0x45, 0x3B),  // red
    qRgb(0x8E, 0x5C, 0xC4),  // purple
    qRgb(0xEE, 0x8A, 0x2E),  // orange
    qRgb(0x1F, 0xA5, 0xA0),  // teal
    qRgb(0xE0, 0x6A, 0xA4),  // pink
    qRgb(0x9A, 0x6B, 0x3F),  // brown
    qRgb(0x7D, 0x87, 0x90),  // grey
};

// Icons 2-101: folders and people in the first five colours (the new
// document's folders and groups), then in the other five, then the other
// shapes in all ten colours.
std::pair<Shape, QColor> design(int number) {
    if (number < kFirstChoosableIcon || number > kLastIcon) {
        return {Shape::Sheet, QColor(0xB8, 0xBE, 0xC4)};
    }
    const int k = number - kFirstChoosableIcon;
    if (k < 20) {
        const int half = k / 10;  // 0: colours 0-4, 1: colours 5-9
        const int inDecade = k % 10;
        const Shape shape = inDecade < 5 ? Shape::Folder : Shape::People;
        const int colour = half * 5 + inDecade % 5;
        return {shape, QColor(kPalette.at(static_cast<std::size_t>(colour)))};
    }
    static constexpr std::array<Shape, 8> kOthers = {Shape::Star,     Shape::Heart, Shape::Building,
                                                     Shape::Envelope, Shape::Flag,  Shape::Tag,
                                                     Shape::Diamond,  Shape::Book};
    const int rest = k - 20;
    return {kOthers[static_cast<std::size_t>(rest / 10)],
            QColor(kPalette[static_cast<std::size_t>(rest % 10)])};
}

QPainterPath shapePath(Shape shape) {
    QPainterPath p;
    switch (shape) {
        case Shape::Sheet: {
            p.moveTo(7, 3);
            p.lineTo(20, 3);
            p.lineTo(26, 9);
            p.lineTo(26, 29);
            p.lineTo(7, 29);
            p.closeSubpath();
            break;
        }
        case Shape::Folder: {
            p.addRoundedRect(QRectF(2.5, 9, 27, 19), 2, 2);
            QPainterPath tab;
            tab.addRoundedRect(QRectF(3.5, 5.5, 11, 6), 1.5, 1.5);
            p = p.united(tab);
            break;
        }
        case Shape::People: {
            p.addEllipse(QPointF(11, 10), 4.2, 4.2);
            p.addEllipse(QPointF(21, 11.5), 5, 5);
            QPainterPath back;
            back.addRoundedRect(QRectF(3.5, 15.5, 15, 12), 6, 6);
            QPainterPath front;
            front.addRoundedRect(QRectF(12, 17.5, 18, 12), 7, 7);
            p = p.united(back).united(front);
            break;
        }
        case Shape::Star: {
            QPolygonF poly;
            for (int i = 0; i < 10; ++i) {
                const double r = i % 2 == 0 ? 14.0 : 6.0;
                const double a = -M_PI / 2 + i * M_PI / 5;
                poly << QPointF(16 + r * std::cos(a), 17 + r * std::sin(a));
            }
            p.addPolygon(poly);
            p.closeSubpath();
            break;
        }
        case Shape::Heart: {
            p.moveTo(16, 28);
            p.cubicTo(4, 20, 1, 12, 6, 7);
            p.cubicTo(10, 3, 15, 5, 16, 10);
            p.cubicTo(17, 5, 22, 3, 26, 7);
            p.cubicTo(31, 12, 28, 20, 16, 28);
            p.closeSubpath();
            break;
        }
        case Shape::Building:
            p.addRect(QRectF(7, 4, 18, 25));
            break;
        case Shape::Envelope:
            p.addRoundedRect(QRectF(3, 8, 26, 17), 1.5, 1.5);
            break;
        case Shape::Flag: {
            p.addRect(QRectF(5.5, 3, 2.5, 26));
            p.moveTo(8, 4);
            p.cubicTo(14, 1, 18, 8, 27, 5);
            p.lineTo(27, 17);
            p.cubicTo(18, 20, 14, 13, 8, 16);
            p.closeSubpath();
            break;
        }
        case Shape::Tag: {
            p.moveTo(4, 6);
            p.lineTo(18, 6);
            p.lineTo(28, 16);
            p.lineTo(18, 26);
            p.lineTo(4, 26);
            p.closeSubpath();
            QPainterPath hole;
            hole.addEllipse(QPointF(9.5, 16), 2.2, 2.2);
            p = p.subtracted(hole);
            break;
        }
        case Shape::Diamond: {
            p.moveTo(16, 3);
            p.lineTo(29, 16);
            p.lineTo(16, 29);
            p.lineTo(3, 16);
            p.closeSubpath();
            break;
        }
        case Shape::Book:
            p.addRoundedRect(QRectF(6, 3, 21, 26), 1.5, 1.5);
            break;
    }
    return p;
}

// Details drawn over the filled shape in white or the outline colour.
void drawDetails(QPainter& g, Shape shape, const QColor& outline, double penWidth) {
    g.setBrush(Qt::NoBrush);
    switch (shape) {
        case Shape::Sheet:
            g.setPen(QPen(outline, penWidth));
            g.drawPolyline(QPolygonF({QPointF(20, 3), QPointF(20, 9), QPointF(26, 9)}));
            g.drawLine(QPointF(10, 15), QPointF(23, 15));
            g.drawLine(QPointF(10, 20), QPointF(23, 20));
            g.drawLine(QPointF(10, 25), QPointF(19, 25));
            break;
        case Shape::Folder:
            g.setPen(QPen(QColor(255, 255, 255, 150), penWidth));
            g.drawLine(QPointF(4.5, 12.5), QPointF(27.5, 12.5));
            break;
        case Shape::Building:
            g.setPen(Qt::NoPen);
            g.setBrush(QColor(255, 255, 255, 220));
            for (int row = 0; row < 4; ++row) {
                for (int col = 0; col < 3; ++col) {
                    g.drawRect(QRectF(10 + col * 4.5, 7 + row * 5, 3, 3));
                }
            }
            g.setBrush(outline);
            g.drawRect(QRectF(14, 24, 4, 5));
            break;
        case Shape::Envelope:
            g.setPen(QPen(outline, penWidth));
            g.drawPolyline(QPolygonF({QPointF(3.5, 9), QPointF(16, 18.5), QPointF(28.5, 9)}));
            break;
        case Shape::Book:
            g.setPen(QPen(outline, penWidth));
            g.drawLine(QPointF(10, 3.5), QPointF(10, 28.5));
            g.setPen(QPen(QColor(255, 255, 255, 200), penWidth));
            g.drawLine(QPointF(13.5, 10), QPointF(23.5, 10));
            g.drawLine(QPointF(13.5, 14), QPointF(23.5, 14));
            break;
        default:
            break;
    }
}

QImage drawIcon(Shape shape, const QColor& colour, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter g(&image);
    g.setRenderHint(QPainter::Antialiasing);
    const double scale = size / kDesign;
    g.scale(scale, scale);
    // About one device pixel at 16, 1.5 at 32, 2 at 48.
    const double penWidth = (size <= 16 ? 1.0 : size <= 32 ? 1.5 : 2.0) / scale;
    const QColor outline = colour.darker(170);
    QLinearGradient fill(0, 2, 0, 30);
    fill.setColorAt(0, colour.lighter(125));
    fill.setColorAt(1, colour);
    g.setPen(QPen(outline, penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    g.setBrush(fill);
    g.drawPath(shapePath(shape));
    drawDetails(g, shape, outline, penWidth);
    return image;
}

// A red disc with a white "!" in the lower right quarter.
void drawOverlay(QImage& image) {
    const int size = image.width();
    QPainter g(&image);
    g.setRenderHint(QPainter::Antialiasing);
    const double d = size * 0.55;
    const QRectF disc(size - d, size - d, d, d);
    g.setPen(QPen(QColor(0x8B, 0x10, 0x10), std::max(1.0, size / 24.0)));
    g.setBrush(QColor(0xE0, 0x20, 0x20));
    g.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
    g.setPen(Qt::NoPen);
    g.setBrush(Qt::white);
    const double w = d * 0.18;
    const QPointF c = disc.center();
    g.drawRect(QRectF(c.x() - w / 2, disc.top() + d * 0.18, w, d * 0.42));
    g.drawEllipse(QRectF(c.x() - w * 0.6, disc.top() + d * 0.68, w * 1.2, w * 1.2));
}

QIcon iconOf(Shape shape, const QColor& colour, bool overlay) {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QImage image = drawIcon(shape, colour, size);
        if (overlay) {
            drawOverlay(image);
        }
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

const QIcon& cached(int number, bool overlay) {
    static std::map<std::pair<int, bool>, QIcon> cache;
    const int n = number >= kFirstIcon && number <= kLastIcon ? number : kFirstIcon;
    auto it = cache.find({n, overlay});
    if (it == cache.end()) {
        auto [shape, colour] = design(n);
        it = cache.emplace(std::make_pair(n, overlay), iconOf(shape, colour, overlay)).first;
    }
    return it->second;
}

}  // namespace

QIcon folderIcon(int number) {
    return cached(number, false);
}

QIcon folderIconWithOverlay(int number) {
    return cached(number, true);
}

QIcon allRecordsIcon() {
    static const QIcon icon = iconOf(Shape::Book, QColor(0x3B, 0x7D, 0xD8), false);
    return icon;
}

QIcon groupsRootIcon() {
    static const QIcon icon = iconOf(Shape::People, QColor(0x7D, 0x87, 0x90), false);
    return icon;
}

QImage applicationImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter g(&image);
    g.setRenderHint(QPainter::Antialiasing);
    const double scale = size / kDesign;
    g.scale(scale, scale);
    // A blue tile, a white envelope, and an orange arrow leaving it.
    QLinearGradient tile(0, 0, 0, 32);
    tile.setColorAt(0, QColor(0x4A, 0x90, 0xE2));
    tile.setColorAt(1, QColor(0x1F, 0x5F, 0xB0));
    g.setPen(Qt::NoPen);
    g.setBrush(tile);
    g.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    const double pen = std::max(1.0 / scale, 1.2);
    g.setPen(QPen(QColor(0x1F, 0x4F, 0x90), pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    g.setBrush(Qt::white);
    g.drawRoundedRect(QRectF(4.5, 10, 19, 14), 1.5, 1.5);
    g.setBrush(Qt::NoBrush);
    g.drawPolyline(QPolygonF({QPointF(5, 11), QPointF(14, 18), QPointF(23, 11)}));
    QPainterPath arrow;
    arrow.moveTo(18, 7);
    arrow.lineTo(25, 7);
    arrow.lineTo(25, 3.5);
    arrow.lineTo(30, 9);
    arrow.lineTo(25, 14.5);
    arrow.lineTo(25, 11);
    arrow.lineTo(18, 11);
    arrow.closeSubpath();
    g.setPen(QPen(QColor(0x9A, 0x4A, 0x00), pen * 0.8));
    g.setBrush(QColor(0xFF, 0x9A, 0x2E));
    g.drawPath(arrow);
    return image;
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(QPixmap::fromImage(applicationImage(size)));
    }
    return icon;
}

QPixmap splashPicture() {
    QPixmap picture(480, 270);
    QPainter g(&picture);
    g.setRenderHint(QPainter::Antialiasing);
    g.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient back(0, 0, 0, 270);
    back.setColorAt(0, QColor(0x2C, 0x6F, 0xC9));
    back.setColorAt(1, QColor(0x12, 0x3D, 0x7A));
    g.fillRect(picture.rect(), back);
    g.drawImage(QPointF(36, 71), applicationImage(128));

    QFont title;
    title.setPixelSize(44);
    title.setBold(true);
    g.setFont(title);
    g.setPen(Qt::white);
    g.drawText(QRectF(190, 70, 280, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("ターノス"));
    QFont sub;
    sub.setPixelSize(22);
    g.setFont(sub);
    g.drawText(QRectF(192, 130, 280, 34), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("グループ送信"));
    QFont small;
    small.setPixelSize(13);
    g.setFont(small);
    g.setPen(QColor(0xD8, 0xE6, 0xF8));
    g.drawText(QRectF(192, 172, 280, 22), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Version %1").arg(QString::fromStdString(programVersionText())));
    g.drawText(QRectF(16, 240, 448, 22), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("日本語の一斉メール送信"));
    return picture;
}

}  // namespace tarn::gpsend
