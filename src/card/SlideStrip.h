#pragma once

#include "PictureLoader.h"
#include "SlideStore.h"

#include <QFrame>
#include <QHash>
#include <QList>
#include <QScrollArea>

class PictureService;
class PictureView;
class QLabel;
class QVBoxLayout;

// One slide of a strip: the picture area filling the cell above a note line 30 pixels high
// ("Примечание: " + the note, wrapped, cut off below). Both stand for the slide's id.
class SlideCell : public QFrame {
    Q_OBJECT
public:
    static constexpr int CaptionHeight = 30;

    SlideCell(int slideId, const QString& notes, bool raised, QWidget* parent = nullptr);

    int slideId() const { return m_slideId; }
    QLabel* caption() const { return m_caption; }
    PictureView* picture() const { return m_picture; }
    void setNotes(const QString& notes);

    static QString captionText(const QString& notes);

Q_SIGNALS:
    void captionDoubleClicked(SlideCell* cell);
    void pictureReleased(SlideCell* cell, Qt::MouseButton button, const QPoint& globalPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int m_slideId;
    QLabel* m_caption;
    PictureView* m_picture;
};

// A vertical strip of slides, one cell below the other, as the details panel and the item card
// show them. Each fill lays every cell out at its final size at once (height: the strip's outer
// width - 20) and hands the pictures to a PictureService, so that they are decoded off the GUI
// thread and appear one by one. A new fill or clear() abandons the running one; the slides'
// bytes are not kept once their pictures are decoded.
class SlideStrip : public QScrollArea {
    Q_OBJECT
public:
    enum class CellFrame { None, Raised };

    explicit SlideStrip(CellFrame frame, QWidget* parent = nullptr);
    ~SlideStrip() override;

    // `ready` holds pictures already fitted to pictureTarget(), by slide id: those slides are shown
    // at once instead of being decoded again.
    void setSlides(QList<SlideRecord> slides, const QHash<int, PictureResult>& ready = {});
    void clear();

    int count() const { return int(m_cells.size()); }
    SlideCell* cell(int index) const { return m_cells.value(index); }
    SlideCell* cellOf(int slideId) const;
    // Pictures of the current fill still to come.
    bool isLoading() const;
    PictureService& pictureService() const { return *m_service; }

    // Sizes a fill gives its cells at the strip's current width (logical pixels).
    int cellHeight() const;
    QSize pictureSize() const;
    // The size a fill fits its pictures into, in device pixels.
    QSize pictureTarget() const;

Q_SIGNALS:
    void captionDoubleClicked(SlideCell* cell);
    void pictureReleased(SlideCell* cell, Qt::MouseButton button, const QPoint& globalPos);
    // Every picture of the fill is in its cell.
    void picturesShown();

private:
    void pictureReady(int index, const PictureResult& result);
    int cellFrameWidth() const;

    CellFrame m_frame;
    QVBoxLayout* m_layout = nullptr;
    QList<SlideCell*> m_cells;
    PictureService* m_service = nullptr;
};
