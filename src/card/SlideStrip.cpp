#include "SlideStrip.h"

#include "PictureService.h"
#include "PictureView.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

constexpr int CellLineWidth = 1;

} // namespace

// ---------------------------------------------------------------------------------------------
// SlideCell

SlideCell::SlideCell(int slideId, const QString& notes, bool raised, QWidget* parent)
    : QFrame(parent), m_slideId(slideId) {
    setObjectName(u"SlideCell"_s);
    if (raised) {
        setFrameShape(QFrame::Panel);
        setFrameShadow(QFrame::Raised);
        setLineWidth(CellLineWidth);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_picture = new PictureView(this);
    m_picture->setObjectName(u"SlidePicture"_s);
    // The cell gives the picture its size; the picture asks for nothing.
    m_picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    layout->addWidget(m_picture, 1);

    m_caption = new QLabel(this);
    m_caption->setObjectName(u"SlideCaption"_s);
    m_caption->setTextFormat(Qt::PlainText);
    m_caption->setWordWrap(true);
    m_caption->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_caption->setFixedHeight(CaptionHeight);
    m_caption->setContentsMargins(3, 1, 3, 0);
    // A long note is cut off, never widens the strip.
    m_caption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_caption->installEventFilter(this);
    layout->addWidget(m_caption);
    setNotes(notes);

    connect(m_picture, &PictureView::mouseReleased, this,
            [this](Qt::MouseButton button, const QPoint& globalPos) {
                Q_EMIT pictureReleased(this, button, globalPos);
            });
}

QString SlideCell::captionText(const QString& notes) {
    return u"Примечание: "_s + notes;
}

void SlideCell::setNotes(const QString& notes) {
    const QString text = captionText(notes);
    m_caption->setText(text);
    // What the 30 pixels cut off is still there to read.
    m_caption->setToolTip(notes.isEmpty() ? QString() : text);
}

bool SlideCell::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_caption && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Q_EMIT captionDoubleClicked(this);
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// SlideStrip

SlideStrip::SlideStrip(CellFrame frame, QWidget* parent) : QScrollArea(parent), m_frame(frame) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always there, so that the cells' width does not change when the strip fills up.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setWidgetResizable(true);
    verticalScrollBar()->setTracking(true);
    verticalScrollBar()->setSingleStep(20);

    auto* content = new QWidget;
    content->setObjectName(u"SlideCells"_s);
    m_layout = new QVBoxLayout(content);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_layout->addStretch(1);
    setWidget(content);

    m_service = new PictureService(this);
    connect(m_service, &PictureService::pictureReady, this, &SlideStrip::pictureReady);
    connect(m_service, &PictureService::batchFinished, this, &SlideStrip::picturesShown);
}

SlideStrip::~SlideStrip() {
    m_service->cancel();
}

int SlideStrip::cellFrameWidth() const {
    return m_frame == CellFrame::Raised ? CellLineWidth : 0;
}

int SlideStrip::cellHeight() const {
    return qMax(width() - 20, SlideCell::CaptionHeight + 2 * cellFrameWidth() + 1);
}

QSize SlideStrip::pictureSize() const {
    // Worked out rather than read from the viewport: a strip on a hidden page has not been laid
    // out yet, but its cells must get their final size now.
    const int client = width() - 2 * frameWidth() - verticalScrollBar()->sizeHint().width();
    const int frame = 2 * cellFrameWidth();
    return QSize(qMax(1, client - frame), qMax(1, cellHeight() - frame - SlideCell::CaptionHeight));
}

void SlideStrip::clear() {
    m_service->cancel();
    // One at a time, and safe even when a cell's own signal led here.
    for (SlideCell* cell : std::as_const(m_cells)) {
        m_layout->removeWidget(cell);
        cell->hide();
        cell->setParent(nullptr);
        cell->deleteLater();
    }
    m_cells.clear();
}

QSize SlideStrip::pictureTarget() const {
    return pictureSize() * devicePixelRatio();
}

void SlideStrip::setSlides(QList<SlideRecord> slides, const QHash<int, PictureResult>& ready) {
    clear();
    const int height = cellHeight();
    const QSize target = pictureTarget();
    QList<PictureJob> jobs;
    jobs.reserve(slides.size());
    for (SlideRecord& slide : slides) {
        auto* cell = new SlideCell(slide.id, slide.notes, m_frame == CellFrame::Raised, widget());
        cell->setFixedHeight(height);
        connect(cell, &SlideCell::captionDoubleClicked, this, &SlideStrip::captionDoubleClicked);
        connect(cell, &SlideCell::pictureReleased, this, &SlideStrip::pictureReleased);
        // Before the closing stretch, below the cells already there.
        m_layout->insertWidget(int(m_cells.size()), cell);
        cell->show();
        if (const auto shown = ready.constFind(slide.id); shown != ready.cend())
            cell->picture()->setResult(*shown);
        else
            jobs.append({int(m_cells.size()), std::move(slide.picture), slide.ext, target});
        m_cells.append(cell);
    }
    slides.clear();
    // Another item's slides start at the top.
    verticalScrollBar()->setValue(0);
    m_service->start(jobs);
}

SlideCell* SlideStrip::cellOf(int slideId) const {
    for (SlideCell* cell : m_cells)
        if (cell->slideId() == slideId)
            return cell;
    return nullptr;
}

bool SlideStrip::isLoading() const {
    return m_service->pending() > 0;
}

void SlideStrip::pictureReady(int index, const PictureResult& result) {
    if (SlideCell* cell = m_cells.value(index))
        cell->picture()->setResult(result);
}
