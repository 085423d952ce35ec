#include "PictureView.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

namespace {

const QString IncompleteText = u"Изображение повреждено: показана только его часть"_s;

} // namespace

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    stateChanged();
}

void PictureView::setLoading() {
    m_state = State::Loading;
    m_image = QImage();
    m_incomplete = false;
    m_failure.clear();
    stateChanged();
}

void PictureView::setResult(const PictureResult& result) {
    if (result.ok())
        setPicture(result.image, result.incomplete);
    else
        setFailure(result.failure);
}

void PictureView::setPicture(const QImage& image, bool incomplete) {
    if (image.isNull()) {
        setFailure(QString());
        return;
    }
    m_state = State::Shown;
    m_image = image;
    m_incomplete = incomplete;
    m_failure.clear();
    stateChanged();
}

void PictureView::setFailure(const QString& reason) {
    m_state = State::Failed;
    m_image = QImage();
    m_incomplete = false;
    m_failure = reason.isEmpty() ? u"Изображение не может быть показано"_s : reason;
    stateChanged();
}

void PictureView::stateChanged() {
    m_scaled = QPixmap();
    switch (m_state) {
    case State::Loading:
        setAccessibleName(u"Изображение загружается"_s);
        setAccessibleDescription(QString());
        setToolTip(QString());
        break;
    case State::Shown:
        setAccessibleName(u"Изображение"_s);
        setAccessibleDescription(m_incomplete ? IncompleteText : QString());
        setToolTip(m_incomplete ? IncompleteText : QString());
        break;
    case State::Failed:
        setAccessibleName(u"Изображение не показано"_s);
        setAccessibleDescription(m_failure);
        setToolTip(m_failure);
        break;
    }
    update();
}

QSize PictureView::targetSize() const {
    return contentsRect().size() * devicePixelRatio();
}

QRect PictureView::pictureRect() const {
    if (m_state != State::Shown)
        return {};
    const QRect area = contentsRect();
    const QSize size = PictureLoader::fitSize(m_image.size(), area.size());
    if (size.isEmpty() || area.isEmpty())
        return {};
    return QRect(area.left() + (area.width() - size.width()) / 2,
                 area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
}

QSize PictureView::sizeHint() const {
    return QSize(160, 120);
}

void PictureView::resizeEvent(QResizeEvent* event) {
    m_scaled = QPixmap();
    QWidget::resizeEvent(event);
}

void PictureView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        update();
    QWidget::changeEvent(event);
}

void PictureView::mouseReleaseEvent(QMouseEvent* event) {
    Q_EMIT mouseReleased(event->button(), event->globalPosition().toPoint());
    QWidget::mouseReleaseEvent(event);
}

void PictureView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect area = rect();
    const QPalette pal = palette();
    p.fillRect(area, pal.color(QPalette::Window));

    if (m_state == State::Shown) {
        const QRect target = pictureRect();
        if (target.isEmpty())
            return;
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = target.size() * ratio;
        if (m_scaled.isNull() || m_scaled.size() != pixels) {
            m_scaled =
                QPixmap::fromImage(m_image.size() == pixels ? m_image
                                                            : m_image.scaled(pixels, Qt::IgnoreAspectRatio,
                                                                             Qt::SmoothTransformation));
            m_scaled.setDevicePixelRatio(ratio);
        }
        p.drawPixmap(target.topLeft(), m_scaled);
        if (m_incomplete) {
            // A small warning mark in the picture's lower right corner.
            const int d = qBound(10, qMin(target.width(), target.height()) / 8, 18);
            const QRectF mark(target.right() - d - 3, target.bottom() - d - 3, d, d);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(Qt::white, 1.5));
            p.setBrush(QColor(0xe0, 0x8a, 0x00));
            p.drawEllipse(mark);
            p.setPen(QPen(Qt::white, qMax(1.5, d / 7.0), Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(mark.center().x(), mark.top() + d * 0.25),
                       QPointF(mark.center().x(), mark.top() + d * 0.58));
            p.drawPoint(QPointF(mark.center().x(), mark.top() + d * 0.77));
        }
        return;
    }

    const QRect inner = area.adjusted(4, 4, -5, -5);
    if (inner.width() < 8 || inner.height() < 8)
        return;
    QColor frame = pal.color(QPalette::Mid);
    p.setPen(QPen(frame, 1, m_state == State::Loading ? Qt::SolidLine : Qt::DashLine));
    p.setBrush(pal.color(QPalette::Base).darker(m_state == State::Loading ? 103 : 100));
    p.drawRect(inner);

    QColor textColour = pal.color(QPalette::PlaceholderText);
    p.setPen(textColour);
    if (m_state == State::Loading) {
        p.drawText(inner, Qt::AlignCenter, u"Загрузка…"_s);
        return;
    }
    // A picture frame crossed out, and the reason under it.
    const int icon = qBound(16, qMin(inner.width(), inner.height()) / 5, 40);
    const int textTop = inner.center().y() - icon / 2 + icon + 6;
    const QRect iconRect(inner.center().x() - icon / 2, inner.center().y() - icon, icon, icon * 3 / 4);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(frame, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(iconRect);
    QPainterPath hill;
    hill.moveTo(iconRect.bottomLeft());
    hill.lineTo(iconRect.left() + icon * 0.35, iconRect.top() + icon * 0.35);
    hill.lineTo(iconRect.left() + icon * 0.6, iconRect.bottom() - icon * 0.15);
    hill.lineTo(iconRect.left() + icon * 0.75, iconRect.top() + icon * 0.45);
    hill.lineTo(iconRect.bottomRight());
    p.drawPath(hill);
    p.setPen(QPen(QColor(0xc0, 0x30, 0x30), 2));
    p.drawLine(iconRect.topLeft() + QPoint(-3, -3), iconRect.bottomRight() + QPoint(3, 3));
    p.setPen(textColour);
    const QRect textRect(inner.left() + 6, textTop, inner.width() - 12, inner.bottom() - textTop - 4);
    p.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, m_failure);
}
