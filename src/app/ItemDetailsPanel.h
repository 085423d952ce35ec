#pragma once

#include "SlideStore.h"

#include <QWidget>

class QLabel;
class QTabWidget;
class SlideStrip;

// The main window's details panel (Panel2): on the page "Общие" the item's text (StaticText1), on
// the page "Слайды" its photographs with their notes (ScrollBox1). Read-only; the main window
// decides when it is filled.
class ItemDetailsPanel : public QWidget {
    Q_OBJECT
public:
    explicit ItemDetailsPanel(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;

    // Destroys the photographs shown and abandons a fill still running.
    void clearSlides();
    // One entry per slide, in order, each at its final size at once; the pictures follow as
    // they are decoded.
    void showSlides(QList<SlideRecord> slides);

    QLabel* textLabel() const { return StaticText1; }
    SlideStrip* slideStrip() const { return ScrollBox1; }

private:
    QTabWidget* m_pages = nullptr;
    QWidget* m_slidesPage = nullptr;
    QLabel* StaticText1 = nullptr;
    SlideStrip* ScrollBox1 = nullptr;
};
