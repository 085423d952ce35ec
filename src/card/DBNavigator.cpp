#include "DBNavigator.h"

#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

constexpr int GlyphSize = 16;

const char* const ButtonNames[DBNavigator::ButtonCount] = {"nbPrior", "nbNext", "nbInsert", "nbDelete",
                                                           "nbEdit",  "nbPost", "nbCancel", "nbRefresh"};

// The navigator's glyphs, drawn rather than loaded so that they stay sharp at any scale:
// triangles to move, plus and minus, a triangle up to edit, a tick, a cross and a circular arrow.
QIcon glyph(DBNavigator::Button button) {
    constexpr qreal Scale = 3;
    QPixmap pixmap(int(GlyphSize * Scale), int(GlyphSize * Scale));
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(Scale, Scale);
    const QColor ink(0x2b, 0x3a, 0x4a);
    const auto triangle = [&](QPointF a, QPointF b, QPointF c) {
        QPainterPath path;
        path.moveTo(a);
        path.lineTo(b);
        path.lineTo(c);
        path.closeSubpath();
        p.fillPath(path, ink);
    };
    const auto stroke = [&](const QColor& colour, qreal width) {
        p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
    };
    switch (button) {
    case DBNavigator::Prior:
        triangle({11, 3}, {11, 13}, {4, 8});
        break;
    case DBNavigator::Next:
        triangle({5, 3}, {5, 13}, {12, 8});
        break;
    case DBNavigator::Insert:
        stroke(ink, 2.2);
        p.drawLine(QPointF(8, 3), QPointF(8, 13));
        p.drawLine(QPointF(3, 8), QPointF(13, 8));
        break;
    case DBNavigator::Delete:
        stroke(ink, 2.2);
        p.drawLine(QPointF(3, 8), QPointF(13, 8));
        break;
    case DBNavigator::Edit:
        triangle({3, 12}, {13, 12}, {8, 4});
        break;
    case DBNavigator::Post:
        stroke(QColor(0x2e, 0x8b, 0x3e), 2.4);
        p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
        break;
    case DBNavigator::Cancel:
        stroke(QColor(0xc0, 0x39, 0x2b), 2.4);
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    case DBNavigator::Refresh: {
        const QColor blue(0x2b, 0x5a, 0xa8);
        stroke(blue, 2);
        p.drawArc(QRectF(3, 3, 10, 10), 60 * 16, 270 * 16);
        QPainterPath head;
        head.moveTo(10.5, 1.5);
        head.lineTo(14.5, 4.5);
        head.lineTo(9.5, 6.5);
        head.closeSubpath();
        p.fillPath(head, blue);
        break;
    }
    }
    p.end();
    pixmap.setDevicePixelRatio(Scale);
    return QIcon(pixmap);
}

} // namespace

DBNavigator::DBNavigator(QWidget* parent) : QWidget(parent) {
    for (int i = 0; i < ButtonCount; ++i) {
        const auto which = Button(i);
        auto* button = new QToolButton(this);
        button->setObjectName(QLatin1StringView(ButtonNames[i]));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setIcon(glyph(which));
        button->setIconSize(QSize(GlyphSize, GlyphSize));
        button->setToolTip(hint(which));
        button->setAccessibleName(hint(which));
        connect(button, &QToolButton::clicked, this, [this, which] { Q_EMIT clicked(which); });
        m_buttons[std::size_t(i)] = button;
    }
    layoutButtons();
}

QString DBNavigator::hint(Button which) {
    switch (which) {
    case Prior:
        return u"Предыдущая запись"_s;
    case Next:
        return u"Следующая запись"_s;
    case Insert:
        return u"Вставить запись"_s;
    case Delete:
        return u"Удалить запись"_s;
    case Edit:
        return u"Редактировать запись"_s;
    case Post:
        return u"Применить изменения"_s;
    case Cancel:
        return u"Отменить изменения"_s;
    case Refresh:
        return u"Обновить"_s;
    }
    return QString();
}

void DBNavigator::setButtonEnabled(Button which, bool enabled) {
    button(which)->setEnabled(enabled);
}

void DBNavigator::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutButtons();
}

// The buttons share the width evenly; the pixels left over go to the first ones.
void DBNavigator::layoutButtons() {
    const int base = width() / ButtonCount;
    const int extra = width() % ButtonCount;
    int left = 0;
    for (int i = 0; i < ButtonCount; ++i) {
        const int w = base + (i < extra ? 1 : 0);
        m_buttons[std::size_t(i)]->setGeometry(left, 0, w, height());
        left += w;
    }
}
