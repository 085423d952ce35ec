#pragma once

#include "PictureLoader.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>

// The picture area of a slide: shows a picture scaled to fit, keeping its proportions and
// centred (up or down), a neutral "loading" look until the picture arrives, and a placeholder
// with the reason when there is none. A picture that decoded only partly gets a small mark in its
// corner. The accessible name and description (and the tooltip) say which of these it shows.
class PictureView : public QWidget {
    Q_OBJECT
public:
    enum class State { Loading, Shown, Failed };

    explicit PictureView(QWidget* parent = nullptr);

    void setLoading();
    void setResult(const PictureResult& result);
    void setPicture(const QImage& image, bool incomplete = false);
    void setFailure(const QString& reason);

    State state() const { return m_state; }
    const QImage& image() const { return m_image; }
    bool isIncomplete() const { return m_incomplete; }
    QString failure() const { return m_failure; }

    // The size to ask the loader for: the area's size in device pixels.
    QSize targetSize() const;
    // Where the picture is drawn at the current size; empty when there is none.
    QRect pictureRect() const;

    QSize sizeHint() const override;

Q_SIGNALS:
    // A mouse button was released over the area (the card pops its slide menu up on this).
    void mouseReleased(Qt::MouseButton button, const QPoint& globalPos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void stateChanged();

    State m_state = State::Loading;
    QImage m_image;
    bool m_incomplete = false;
    QString m_failure;
    QPixmap m_scaled; // m_image at pictureRect() in device pixels; made when first painted
};
