#include "StatusPanels.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionFrame>

using namespace Qt::StringLiterals;

namespace {

// One painted panel of the bar, for screen readers: a static text named by the panel's text. The
// index after the last panel stands for the note.
class PanelAccessible : public QAccessibleInterface {
public:
    PanelAccessible(StatusPanels* bar, int panel) : m_bar(bar), m_panel(panel) {}

    bool isValid() const override { return m_bar && m_panel <= m_bar->panelCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_bar ? m_bar->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_bar); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        if (!isValid() || (t != QAccessible::Name && t != QAccessible::Value))
            return QString();
        return isNote() ? m_bar->note() : m_bar->panelText(m_panel);
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return QRect();
        const QRect local = isNote() ? m_bar->noteRect()
                                     : QRect(m_bar->panelLeft(m_panel), 0, m_bar->panelWidth(m_panel), m_bar->height());
        return QRect(m_bar->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::StaticText; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.readOnly = true;
        s.invisible = !m_bar || !m_bar->isVisible() || (isNote() && m_bar->note().isEmpty());
        return s;
    }

private:
    bool isNote() const { return m_panel == m_bar->panelCount(); }
    QPointer<StatusPanels> m_bar;
    int m_panel;
};

// The bar: its panels first, then the note, then its child widgets (the About button).
class StatusPanelsAccessible : public QAccessibleWidget {
public:
    explicit StatusPanelsAccessible(StatusPanels* bar) : QAccessibleWidget(bar, QAccessible::StatusBar) {}
    ~StatusPanelsAccessible() override {
        for (const QAccessible::Id id : std::as_const(m_ids))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return panels() + QAccessibleWidget::childCount(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0)
            return nullptr;
        if (index >= panels())
            return QAccessibleWidget::child(index - panels());
        auto it = m_ids.constFind(index);
        if (it == m_ids.constEnd())
            it = m_ids.insert(index, QAccessible::registerAccessibleInterface(new PanelAccessible(bar(), index)));
        return QAccessible::accessibleInterface(*it);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (auto it = m_ids.constBegin(); it != m_ids.constEnd(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key();
        const int i = QAccessibleWidget::indexOfChild(child);
        return i < 0 ? -1 : i + panels();
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return bar()->panelText(0);
        return QAccessibleWidget::text(t);
    }

private:
    StatusPanels* bar() const { return static_cast<StatusPanels*>(widget()); }
    int panels() const { return bar()->panelCount() + 1; }
    mutable QHash<int, QAccessible::Id> m_ids;
};

QAccessibleInterface* statusPanelsFactory(const QString&, QObject* object) {
    if (auto* bar = qobject_cast<StatusPanels*>(object))
        return new StatusPanelsAccessible(bar);
    return nullptr;
}

} // namespace

StatusPanels::StatusPanels(const QList<int>& panelWidths, QWidget* parent)
    : QWidget(parent), m_widths(panelWidths), m_texts(panelWidths.size()) {
    static const bool installed = [] {
        QAccessible::installFactory(statusPanelsFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

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
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        event.setChild(panel);
        QAccessible::updateAccessibility(&event);
    }
}

QRect StatusPanels::noteRect() const {
    const int left = panelLeft(panelCount()) + 4;
    return QRect(left, 2, qMax(0, width() - left - 4), height() - 2);
}

void StatusPanels::setNote(const QString& text, NoteKind kind) {
    if (m_note == text && m_noteKind == kind)
        return;
    m_note = text;
    m_noteKind = kind;
    setToolTip(text);
    // Painted now: the note may be set while the interface thread waits for the database.
    repaint();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        event.setChild(panelCount());
        QAccessible::updateAccessibility(&event);
    }
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
    if (!m_note.isEmpty()) {
        const QRect r = noteRect();
        QFont noteFont = font();
        if (m_noteKind == NoteKind::Problem) {
            noteFont.setBold(true);
            painter.setPen(QColor(0xA0, 0x30, 0x20));
        }
        painter.setFont(noteFont);
        painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         QFontMetrics(noteFont).elidedText(QString(m_note).replace(u'\n', u"  "_s),
                                                           Qt::ElideRight, r.width()));
    }
}
