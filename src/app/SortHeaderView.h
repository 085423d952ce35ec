#pragma once

#include <QHeaderView>
#include <QList>

// A horizontal list header that shows the sort mark of a column as an image placed to the right
// of its caption. It only draws the mark; the list's order comes from the statement.
class SortHeaderView : public QHeaderView {
    Q_OBJECT
public:
    enum class Mark { None, Ascending, Descending };

    explicit SortHeaderView(QWidget* parent = nullptr);

    void setSortMark(int section, bool sorted, bool descending);
    void clearSortMarks();
    Mark sortMark(int section) const;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    QList<Mark> m_marks;
};
