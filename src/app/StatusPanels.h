#pragma once

#include <QList>
#include <QString>
#include <QWidget>

// A status bar of fixed-width panels, each with one line of text. Panel i starts at the sum of
// (width + 1) of the panels before it.
class StatusPanels : public QWidget {
    Q_OBJECT
public:
    StatusPanels(const QList<int>& panelWidths, QWidget* parent = nullptr);

    int panelCount() const { return int(m_widths.size()); }
    int panelWidth(int panel) const { return m_widths.at(panel); }
    int panelLeft(int panel) const;
    QString panelText(int panel) const { return m_texts.at(panel); }
    void setPanelText(int panel, const QString& text);

    // A note right of the panels (another copy is writing, the file is read-only, a backup failed or
    // was saved); never a modal box. A problem is painted in bold red, information plainly. Notes
    // of several lines (the first the most important) are painted one after the other, and shown
    // line by line in the tooltip. Empty hides it. Repainted at once, also while the program waits.
    enum class NoteKind { Problem, Information };
    QString note() const { return m_note; }
    NoteKind noteKind() const { return m_noteKind; }
    void setNote(const QString& text, NoteKind kind = NoteKind::Problem);
    QRect noteRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<int> m_widths;
    QList<QString> m_texts;
    QString m_note;
    NoteKind m_noteKind = NoteKind::Problem;
};
