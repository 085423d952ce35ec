#include "StatusPanels.h"

#include <QPainter>
#include <QStyleOptionFrame>

StatusPanels::StatusPanels(const QList<int>& panelWidths, QWidget* parent)
    : QWidget(parent), m_widths(panelWidths), m_texts(panelWidths.size()) {}

int StatusPanels::panelLeft(int panel) const {
    int left = 0;
    for (int i = 0; i < panel; ++i)
        left += m_widths.at(i) + 1;
    return left;
}

void StatusPanels::setPanelText(int panel, const QString& text) {
    if (m_texts.at(panel) == text)
        return;
    m_texts[panel] = text;
    update();
}

void StatusPanels::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (int i = 0; i < panelCount(); ++i) {
        const QRect r(panelLeft(i), 2, m_widths.at(i) - 1, height() - 2);
        QStyleOptionFrame frame;
        frame.initFrom(this);
        frame.rect = r;
        frame.lineWidth = 1;
        frame.frameShape = QFrame::Panel;
        frame.state |= QStyle::State_Sunken;
        style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
        painter.drawText(r.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         m_texts.at(i));
    }
}
