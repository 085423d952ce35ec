#include "DemoPictures.h"

#include "JpegCodec.h"
#include "MetafileWriter.h"

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <QtEndian>

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

QImage facadeImage(int w, int h, int variant) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paintFacade(painter, w, h, variant);
    return image;
}

QImage roomImage(int w, int h, int variant) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paintRoom(painter, w, h, variant);
    return image;
}

// A 256-colour bitmap keeps the demonstration file small.
QByteArray bitmap(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither).save(&buffer, "BMP");
    return bytes;
}

// A house on a map pin, 64 x 64 with transparency.
QByteArray icon() {
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath pin;
        pin.addEllipse(QRectF(6, 2, 52, 52));
        QPainterPath tip;
        tip.moveTo(18, 44);
        tip.lineTo(32, 63);
        tip.lineTo(46, 44);
        tip.closeSubpath();
        p.setPen(QPen(QColor(0x8a, 0x1c, 0x1c), 2));
        p.setBrush(QColor(0xd6, 0x3a, 0x2f));
        p.drawPath(pin.united(tip));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        QPainterPath house;
        house.moveTo(32, 12);
        house.lineTo(48, 27);
        house.lineTo(44, 27);
        house.lineTo(44, 42);
        house.lineTo(20, 42);
        house.lineTo(20, 27);
        house.lineTo(16, 27);
        house.closeSubpath();
        p.drawPath(house);
        p.setBrush(QColor(0xd6, 0x3a, 0x2f));
        p.drawRect(QRectF(28, 32, 8, 10));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "ICO");
    return bytes;
}

// A phone photograph taken upright: stored turned to the left, with EXIF orientation 6 telling
// viewers to turn it right again.
QByteArray portrait() {
    const QImage upright = roomImage(450, 600, 5);
    const QByteArray jpeg = JpegCodec::encode(upright.transformed(QTransform().rotate(-90)));
    QByteArray tiff("II*\0\x08\0\0\0\x01\0", 10); // little-endian, IFD0 at 8 with one entry
    char entry[12] = {};
    qToLittleEndian(quint16(0x0112), entry);
    qToLittleEndian(quint16(3), entry + 2);
    qToLittleEndian(quint32(1), entry + 4);
    qToLittleEndian(quint16(6), entry + 8);
    tiff.append(entry, 12);
    tiff.append(4, '\0'); // no next IFD
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    char length[2];
    qToBigEndian(quint16(payload.size() + 2), length);
    return jpeg.left(2) + QByteArray("\xFF\xE1", 2) + QByteArray(length, 2) + payload + jpeg.mid(2);
}

struct Room {
    QRect rect;
    QColor colour;
    QString name;
    double area;
};

// A two- or three-room flat, 1 unit = 2 cm; walls drawn over the room fills.
QByteArray floorPlan(MetafileWriter::Kind kind, int variant) {
    const bool emf = kind == MetafileWriter::Kind::Emf;
    MetafileWriter w(kind, 640, 440);
    w.fillRect(QRect(0, 0, 640, 440), Qt::white);
    const QList<Room> rooms =
        variant == 0 ? QList<Room>{{QRect(20, 20, 300, 240), QColor(0xf3, 0xe3, 0xc3), u"Гостиная"_s, 18.4},
                                   {QRect(320, 20, 300, 180), QColor(0xd9, 0xe8, 0xf5), u"Спальня"_s, 13.2},
                                   {QRect(320, 200, 180, 220), QColor(0xe3, 0xf1, 0xd9), u"Кухня"_s, 9.6},
                                   {QRect(500, 200, 120, 120), QColor(0xd4, 0xf0, 0xf0), u"Санузел"_s, 3.8},
                                   {QRect(20, 260, 300, 160), QColor(0xee, 0xe8, 0xe0), u"Прихожая"_s, 7.1}}
                     : QList<Room>{{QRect(20, 20, 260, 260), QColor(0xf3, 0xe3, 0xc3), u"Гостиная"_s, 20.1},
                                   {QRect(280, 20, 200, 200), QColor(0xd9, 0xe8, 0xf5), u"Спальня"_s, 11.5},
                                   {QRect(480, 20, 140, 200), QColor(0xf5, 0xdf, 0xe6), u"Детская"_s, 8.9},
                                   {QRect(280, 220, 200, 200), QColor(0xe3, 0xf1, 0xd9), u"Кухня"_s, 10.4},
                                   {QRect(480, 220, 140, 100), QColor(0xd4, 0xf0, 0xf0), u"Санузел"_s, 4.2},
                                   {QRect(20, 280, 260, 140), QColor(0xee, 0xe8, 0xe0), u"Прихожая"_s, 6.8}};
    const QColor wall(0x4a, 0x4a, 0x4a);
    for (const Room& r : rooms)
        w.fillRect(r.rect, r.colour);
    // The balcony, hatched, and only inside its outline.
    const QRect balcony(500, 320, 120, 100);
    w.save();
    w.clipTo(balcony);
    w.hatchRect(QRect(0, 0, 640, 440), QColor(0x9a, 0x9a, 0x9a), MetafileWriter::Hatch::DiagonalCross);
    w.restore();
    for (const Room& r : rooms) {
        const QRect o = r.rect;
        w.fillRect(QRect(o.left() - 3, o.top() - 3, o.width() + 6, 6), wall);
        w.fillRect(QRect(o.left() - 3, o.bottom() - 2, o.width() + 6, 6), wall);
        w.fillRect(QRect(o.left() - 3, o.top() - 3, 6, o.height() + 6), wall);
        w.fillRect(QRect(o.right() - 2, o.top() - 3, 6, o.height() + 6), wall);
    }
    // Doorways: gaps in the walls painted in the room colour.
    w.fillRect(QRect(120, 255, 60, 10), rooms[0].colour);
    w.fillRect(QRect(315, 80, 10, 50), rooms[1].colour);
    w.fillRect(QRect(380, 195, 60, 10), rooms[2].colour);
    const QString metres = u" м²"_s;
    for (const Room& r : rooms) {
        const QString area = QString::number(r.area, 'f', 1).replace(u'.', u',');
        const QPoint at = r.rect.topLeft() + QPoint(14, 14);
        if (emf) {
            w.text(at, r.name, 20, QColor(0x30, 0x30, 0x30), true);
            w.text(at + QPoint(0, 26), area + metres, 18, QColor(0x50, 0x50, 0x50));
        } else {
            // The WMF reader's Type 1 fonts lack Cyrillic and the superscript: the area alone.
            w.text(at, area, 20, QColor(0x30, 0x30, 0x30), true);
        }
    }
    return w.finish();
}

// The house among its neighbours: street, yard, park and a north arrow.
QByteArray sitePlan(MetafileWriter::Kind kind) {
    const bool emf = kind == MetafileWriter::Kind::Emf;
    MetafileWriter w(kind, 600, 400);
    w.fillRect(QRect(0, 0, 600, 400), QColor(0xf2, 0xef, 0xe6));
    w.fillPolygon({QPoint(380, 0), QPoint(600, 0), QPoint(600, 220), QPoint(470, 260), QPoint(390, 150)},
                  QColor(0xb9, 0xdc, 0xa4));
    w.fillRect(QRect(0, 300, 600, 50), QColor(0xb0, 0xb0, 0xb0));
    for (int x = 10; x < 600; x += 60)
        w.fillRect(QRect(x, 323, 30, 4), Qt::white);
    w.fillRect(QRect(200, 0, 40, 300), QColor(0xc4, 0xc4, 0xc4));
    const QList<QRect> neighbours = {QRect(30, 40, 130, 90), QRect(30, 170, 130, 100),
                                     QRect(270, 180, 90, 90)};
    for (const QRect& r : neighbours)
        w.fillRect(r, QColor(0xcf, 0xc6, 0xb8));
    w.fillPolygon({QPoint(270, 30), QPoint(360, 30), QPoint(360, 80), QPoint(330, 80), QPoint(330, 150),
                   QPoint(270, 150)},
                  QColor(0xd6, 0x3a, 0x2f));
    w.fillPolygon({QPoint(540, 40), QPoint(555, 90), QPoint(540, 80), QPoint(525, 90)},
                  QColor(0x40, 0x40, 0x40));
    w.text(QPoint(533, 18), u"N"_s, 22, QColor(0x40, 0x40, 0x40), true);
    if (emf) {
        w.text(QPoint(250, 356), u"ул. Садовая"_s, 20, QColor(0x40, 0x40, 0x40));
        w.text(QPoint(460, 150), u"Сквер"_s, 20, QColor(0x2e, 0x6b, 0x2a));
        w.text(QPoint(268, 156), u"Дом 12"_s, 18, QColor(0x8a, 0x1c, 0x1c), true);
    } else {
        w.text(QPoint(268, 156), u"12"_s, 20, QColor(0x8a, 0x1c, 0x1c), true);
    }
    return w.finish();
}

} // namespace

QList<DemoPicture> makeDemoPictures(int count, int width, int height) {
    static const QString StreetNotes[] = {u"Вид с улицы"_s, u"Фасад дома"_s, u"Двор"_s};
    static const QString RoomNotes[] = {u"Гостиная"_s, u"Спальня"_s, u"Детская"_s, u"Кухня"_s};
    static const QString Extensions[] = {u".jpg"_s, u".jpg"_s, u".jpeg"_s, u".jpg"_s, u".JPG"_s};
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
        pictures.append({JpegCodec::encode(image), Extensions[i % 5], note});
    }
    return pictures;
}

QList<DemoPicture> makeDemoExtras() {
    QList<DemoPicture> extras;
    extras.append({bitmap(roomImage(480, 360, 2)), u".bmp"_s, u"Спальня"_s});
    extras.append({bitmap(facadeImage(480, 360, 4)), u".BMP"_s, u"Дом со двора"_s});
    extras.append({icon(), u".ico"_s, u"Значок объекта на карте"_s});
    extras.append({floorPlan(MetafileWriter::Kind::Wmf, 0), u".wmf"_s, u"План квартиры"_s});
    extras.append({floorPlan(MetafileWriter::Kind::Emf, 1), u".EMF"_s, u"Поэтажный план"_s});
    extras.append({sitePlan(MetafileWriter::Kind::Emf), u".emf"_s, u"Схема расположения"_s});
    extras.append({sitePlan(MetafileWriter::Kind::Wmf), u".WMF"_s, u"Схема участка"_s});
    extras.append({portrait(), u".jpg"_s, u"Вид из окна (снято телефоном)"_s});
    return extras;
}
