#pragma once

#include "PictureLoader.h"

#include <QHash>
#include <QWidget>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class SlideCell;
class SlideStrip;
class StoreQuery;

// The item card's page "Слайды": the strip of the item's photographs with their notes, adding a
// picture from a file, changing a note and deleting a slide. Every change is written at once,
// whatever becomes of the card. Statements run on the card's query object.
class SlidesPage : public QWidget {
    Q_OBJECT
public:
    // The largest picture file "Вст. из файла" reads; the message that refuses a larger one names it.
    static constexpr qint64 MaxPictureFileBytes = 64 * 1024 * 1024;

    explicit SlidesPage(StoreQuery& query, QWidget* parent = nullptr);

    // The item whose slides the page shows and adds to; 0 while a new item, which has no id
    // yet, is being created (nothing can be added then). Changing it empties the strip until
    // the next LoadSlides().
    void setItemId(int itemId);
    int itemId() const { return m_itemId; }

    // Rebuilds the strip from the database; `ready` as SlideStrip::setSlides takes it.
    void LoadSlides(const QHash<int, PictureResult>& ready = {});
    void BitBtn1Click();
    void EditSlideNote(SlideCell* cell);
    void ShowSlideMenu(SlideCell* cell, Qt::MouseButton button, const QPoint& globalPos);
    void N1Click();

    int selectedSlideId() const { return SelectedSlideId; }
    SlideStrip* strip() const { return m_strip; }
    // "Сканировать": the card acquires the picture and stores it as a slide of this item.
    QPushButton* scanButton() const { return BitBtn2; }

private:
    StoreQuery& m_query;
    int m_itemId = 0;
    int SelectedSlideId = 0;

    SlideStrip* m_strip = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QLabel* m_newItemHint = nullptr;
    QMenu* m_slideMenu = nullptr;
    QAction* N1 = nullptr;
};
