#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class StoreQuery;

// One photograph of an item, as stored.
struct SlideRecord {
    int id = 0;
    QString ext;   // with its leading dot, as ".jpg"
    QString notes; // empty when null
    QByteArray picture;
};

// Named operations on the photographs of an item.
namespace SlideStore {

// Every slide of the item in the order the database returns them, bytes included.
QList<SlideRecord> loadSlides(StoreQuery& query, int itemId);
// Stores the picture's bytes unchanged under `ext`.
void insertSlide(StoreQuery& query, int itemId, const QString& ext, const QByteArray& picture);
// The slide's note; empty when the slide has none or is gone.
QString slideNotes(StoreQuery& query, int slideId);
// The slide's note (empty when null), or nothing when the slide is gone.
std::optional<QString> findSlideNotes(StoreQuery& query, int slideId);
void updateSlideNotes(StoreQuery& query, int slideId, const QString& notes);
void deleteSlide(StoreQuery& query, int slideId);

} // namespace SlideStore
