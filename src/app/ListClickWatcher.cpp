#include "ListClickWatcher.h"

#include <QAbstractItemView>
#include <QMouseEvent>

ListClickWatcher::ListClickWatcher(QAbstractItemView* view)
    : QObject(view), m_view(view), m_viewport(view->viewport()) {
    m_viewport->installEventFilter(this);
}

bool ListClickWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_viewport)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        m_pressed = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        break;
    case QEvent::MouseButtonDblClick:
        // The first click of the pair has been told already.
        m_pressed = false;
        break;
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !m_pressed)
            break;
        m_pressed = false;
        if (!m_view->indexAt(mouse->position().toPoint()).isValid())
            m_view->clearSelection();
        Q_EMIT clicked();
        break;
    }
    default:
        break;
    }
    return false;
}
