#include "DemoPictures.h"

#include "JpegCodec.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <array>

using namespace Qt::StringLiterals;

namespace {

const std::array<QColor, 6> WallColours = {QColor(0xc9, 0x7b, 0x5a), QColor(0xe2, 0xd3, 0xb5),
                                           QColor(0x9c, 0xb4, 0xc8), QColor(0xd8, 0xa8, 0x4e),
                                           QColor(0xb8, 0xc9, 0x9a), QColor(0xe8, 0xe4, 0xdc)};
const std::array<QColor, 6> RoomColours = {QColor(0xf2, 0xe6, 0xc8), QColor(0xd9, 0xe8, 0xe0),
                                           QColor(0xe8, 0xd5, 0xe0), QColor(0xdd, 0xe3, 0xf0),
                                           QColor(0xf0, 0xdc, 0xc0), QColor(0xe6, 0xe6, 0xd8)};

void paintFacade(QPainter& p, int w, int h, int variant) {
    QLinearGradient sky(0, 0, 0, h * 0.7);
    sky.setColorAt(0, QColor(0x4a, 0x86, 0xd0).lighter(100 + variant * 8));
    sky.setColorAt(1, QColor(0xcf, 0xe4, 0xf7));
    p.fillRect(0, 0, w, h, sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xe0, 0x80));
    p.drawEllipse(QPointF(w * (0.15 + 0.12 * (variant % 3)), h * 0.14), h * 0.06, h * 0.06);

    const QColor wall = WallColours[size_t(variant) % WallColours.size()];
    const int floors = 4 + variant % 6;
    const int columns = 5 + variant % 4;
    const double floorHeight = qMin(h * 0.11, h * 0.64 / floors);
    const QRectF body(w * 0.18, h * 0.78 - floors * floorHeight, w * 0.64, floors * floorHeight);
    p.setBrush(wall);
    p.drawRect(body);
    p.setBrush(wall.darker(130));
    p.drawRect(QRectF(body.left() - 8, body.top() - 14, body.width() + 16, 16));

    const double cellW = body.width() / columns;
    const double cellH = body.height() / floors;
    for (int f = 0; f < floors; ++f) {
        for (int c = 0; c < columns; ++c) {
            const QRectF window(body.left() + c * cellW + cellW * 0.25, body.top() + f * cellH + cellH * 0.2,
                                cellW * 0.5, cellH * 0.55);
            p.setBrush(QColor(0xf4, 0xf4, 0xf0));
            p.drawRect(window.adjusted(-3, -3, 3, 3));
            QLinearGradient glass(window.topLeft(), window.bottomRight());
            glass.setColorAt(0, QColor(0x8f, 0xb8, 0xe0));
            glass.setColorAt(1, (f + c + variant) % 5 == 0 ? QColor(0xf0, 0xd0, 0x70)
                                                           : QColor(0x3c, 0x5e, 0x86));
            p.setBrush(glass);
            p.drawRect(window);
        }
    }
    p.setBrush(QColor(0x6b, 0x4a, 0x2e));
    p.drawRect(QRectF(w * 0.47, h * 0.78 - cellH * 0.8, w * 0.06, cellH * 0.8));

    p.setBrush(QColor(0x7d, 0xa8, 0x4a));
    p.drawRect(QRectF(0, h * 0.78, w, h * 0.22));
    p.setBrush(QColor(0x9a, 0x9a, 0x96));
    QPainterPath path;
    path.moveTo(w * 0.46, h * 0.78);
    path.lineTo(w * 0.54, h * 0.78);
    path.lineTo(w * 0.62, h);
    path.lineTo(w * 0.38, h);
    path.closeSubpath();
    p.drawPath(path);

    for (int t = 0; t < 2; ++t) {
        const double x = t == 0 ? w * 0.08 : w * 0.9;
        p.setBrush(QColor(0x5a, 0x3d, 0x24));
        p.drawRect(QRectF(x - 6, h * 0.62, 12, h * 0.18));
        p.setBrush(QColor(0x3f, 0x7d, 0x32).lighter(100 + variant * 5));
        p.drawEllipse(QPointF(x, h * 0.58), w * 0.06, h * 0.1);
    }
}

void paintRoom(QPainter& p, int w, int h, int variant) {
    const QColor wall = RoomColours[size_t(variant) % RoomColours.size()];
    p.fillRect(0, 0, w, h, wall);
    p.setPen(Qt::NoPen);
    p.setBrush(wall.darker(112));
    QPainterPath leftWall;
    leftWall.moveTo(0, 0);
    leftWall.lineTo(w * 0.18, h * 0.12);
    leftWall.lineTo(w * 0.18, h * 0.7);
    leftWall.lineTo(0, h);
    leftWall.closeSubpath();
    p.drawPath(leftWall);

    QLinearGradient floor(0, h * 0.7, 0, h);
    floor.setColorAt(0, QColor(0xb0, 0x80, 0x50).lighter(100 + variant * 6));
    floor.setColorAt(1, QColor(0x7a, 0x52, 0x30));
    p.setBrush(floor);
    QPainterPath floorPath;
    floorPath.moveTo(w * 0.18, h * 0.7);
    floorPath.lineTo(w, h * 0.7);
    floorPath.lineTo(w, h);
    floorPath.lineTo(0, h);
    floorPath.closeSubpath();
    p.drawPath(floorPath);

    const QRectF window(w * 0.52, h * 0.16, w * 0.3, h * 0.34);
    p.setBrush(Qt::white);
    p.drawRect(window.adjusted(-8, -8, 8, 8));
    QLinearGradient sky(window.topLeft(), window.bottomLeft());
    sky.setColorAt(0, QColor(0x6a, 0x9e, 0xdc));
    sky.setColorAt(1, QColor(0xd8, 0xea, 0xfa));
    p.setBrush(sky);
    p.drawRect(window);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(window.center().x() - 3, window.top(), 6, window.height()));

    const QColor sofa = QColor::fromHsv((variant * 47) % 360, 120, 170);
    p.setBrush(sofa.darker(115));
    p.drawRoundedRect(QRectF(w * 0.26, h * 0.5, w * 0.36, h * 0.1), 10, 10);
    p.setBrush(sofa);
    p.drawRoundedRect(QRectF(w * 0.24, h * 0.58, w * 0.4, h * 0.12), 10, 10);
    p.setBrush(sofa.darker(130));
    p.drawRect(QRectF(w * 0.26, h * 0.7, 10, 14));
    p.drawRect(QRectF(w * 0.62 - 10, h * 0.7, 10, 14));

    p.setBrush(QColor(0x4a, 0x3a, 0x2a));
    p.drawRect(QRectF(w * 0.3, h * 0.2, w * 0.14, h * 0.18));
    p.setBrush(QColor::fromHsv((variant * 83 + 30) % 360, 90, 210));
    p.drawRect(QRectF(w * 0.3 + 6, h * 0.2 + 6, w * 0.14 - 12, h * 0.18 - 12));

    p.setBrush(QColor(0x3f, 0x7d, 0x32));
    p.drawEllipse(QPointF(w * 0.88, h * 0.58), w * 0.04, h * 0.08);
    p.setBrush(QColor(0xa0, 0x50, 0x30));
    p.drawRect(QRectF(w * 0.86, h * 0.64, w * 0.04, h * 0.08));
}

} // namespace

QList<DemoPicture> makeDemoPictures(int count, int width, int height) {
    static const QString StreetNotes[] = {u"Вид с улицы"_s, u"Фасад дома"_s, u"Двор"_s};
    static const QString RoomNotes[] = {u"Гостиная"_s, u"Спальня"_s, u"Детская"_s, u"Кухня"_s};
    QList<DemoPicture> pictures;
    for (int i = 0; i < count; ++i) {
        QImage image(width, height, QImage::Format_RGB32);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            if (i % 2 == 0)
                paintFacade(painter, width, height, i / 2);
            else
                paintRoom(painter, width, height, i / 2);
        }
        const QString note = i % 2 == 0 ? StreetNotes[(i / 2) % 3] : RoomNotes[(i / 2) % 4];
        pictures.append({JpegCodec::encode(image), note});
    }
    return pictures;
}
