#include "SlideStore.h"

#include "Database.h"
#include "Statements.h"

using namespace Qt::StringLiterals;

namespace SlideStore {

QList<SlideRecord> loadSlides(StoreQuery& query, int itemId) {
    query.setText(Statements::slidesOfItem(itemId, Statements::dialectOf(query.database())));
    query.open();
    const int idColumn = query.columnIndex(u"id"_s);
    const int extColumn = query.columnIndex(u"ext"_s);
    const int notesColumn = query.columnIndex(u"notes"_s);
    const int pictureColumn = query.columnIndex(u"picture"_s);
    QList<SlideRecord> slides;
    while (query.next()) {
        SlideRecord slide;
        slide.id = query.value(idColumn).toInt();
        slide.ext = query.text(extColumn);
        slide.notes = query.text(notesColumn);
        slide.picture = query.value(pictureColumn).toByteArray();
        slides.append(std::move(slide));
    }
    query.finish();
    return slides;
}

void insertSlide(StoreQuery& query, int itemId, const QString& ext, const QByteArray& picture) {
    query.setText(Statements::insertSlide());
    query.bind(u"parent_id"_s, itemId);
    query.bind(u"ext"_s, ext);
    query.bind(u"picture"_s, picture);
    query.execute();
}

QString slideNotes(StoreQuery& query, int slideId) {
    query.setText(Statements::slideNotes(slideId));
    query.open();
    const QString notes = query.next() ? query.text(0) : QString();
    query.finish();
    return notes;
}

std::optional<QString> findSlideNotes(StoreQuery& query, int slideId) {
    query.setText(Statements::slideNotes(slideId));
    query.open();
    std::optional<QString> notes;
    if (query.next())
        notes = query.text(0);
    query.finish();
    return notes;
}

void updateSlideNotes(StoreQuery& query, int slideId, const QString& notes) {
    query.setText(Statements::updateSlideNotes());
    query.bind(u"n"_s, notes);
    query.bind(u"i"_s, slideId);
    query.execute();
}

void deleteSlide(StoreQuery& query, int slideId) {
    query.setText(Statements::deleteSlide(slideId));
    query.execute();
}

} // namespace SlideStore
