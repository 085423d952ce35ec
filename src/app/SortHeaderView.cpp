#include "SortHeaderView.h"

#include "Icons.h"

#include <QPainter>
#include <QStyleOptionHeader>

using namespace Qt::StringLiterals;

namespace {
constexpr int MarkSize = 16;
}

SortHeaderView::SortHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setSortIndicatorShown(false);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void SortHeaderView::setSortMark(int section, bool sorted, bool descending) {
    if (section < 0)
        return;
    if (section >= m_marks.size())
        m_marks.resize(section + 1, Mark::None);
    m_marks[section] = !sorted ? Mark::None : descending ? Mark::Descending : Mark::Ascending;
    updateSection(section);
}

void SortHeaderView::clearSortMarks() {
    m_marks.clear();
    viewport()->update();
}

SortHeaderView::Mark SortHeaderView::sortMark(int section) const {
    return m_marks.value(section, Mark::None);
}

void SortHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    const Mark mark = sortMark(logicalIndex);
    if (mark == Mark::None || !rect.isValid()) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    QStyleOptionHeader opt;
    initStyleOptionForIndex(&opt, logicalIndex);
    opt.rect = rect;
    opt.sortIndicator = QStyleOptionHeader::None;
    opt.icon = QIcon();
    opt.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, &opt, this);
    const QFontMetrics fm(font());
    const int room = qMax(0, rect.width() - 3 * margin - MarkSize);
    opt.text = fm.elidedText(opt.text, Qt::ElideRight, room);

    // The style may leave the painter clipped; the picture is drawn with the state restored.
    painter->save();
    style()->drawControl(QStyle::CE_Header, &opt, painter, this);
    painter->restore();
    const int x = rect.left() + margin + fm.horizontalAdvance(opt.text) + margin;
    if (x + MarkSize <= rect.right()) {
        const QPixmap picture =
            Icons::pixmap(mark == Mark::Descending ? u"sort_desc" : u"sort_asc", MarkSize);
        painter->drawPixmap(x, rect.top() + (rect.height() - MarkSize) / 2, picture);
    }
}
