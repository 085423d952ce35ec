#pragma once

#include <QObject>

class QAbstractItemView;
class QWidget;

// Tells the mouse clicks on a list apart from keyboard moves and the program's own selections:
// clicked() follows a left-button press and release on the list's rows area. A click where there
// is no row leaves no row selected, as in the platform's list views.
class ListClickWatcher : public QObject {
    Q_OBJECT
public:
    explicit ListClickWatcher(QAbstractItemView* view);

Q_SIGNALS:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractItemView* m_view;
    QWidget* m_viewport; // compared only: it may be going away with the view
    bool m_pressed = false;
};
