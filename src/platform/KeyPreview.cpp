#include "KeyPreview.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QWidget>

#include "Guard.h"

KeyPreview::KeyPreview(QWidget* window, Handler handler)
    : QObject(window), m_window(window), m_handler(std::move(handler)) {
    qApp->installEventFilter(this);
}

bool KeyPreview::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != m_window || !m_window->isVisible())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Claim the keys we handle so that no control turns them into its own shortcut.
        if (isConfirmKey(key) || isCancelKey(key))
            event->accept();
        return false;
    }
    return m_handler(key);
}

bool isConfirmKey(const QKeyEvent* event) {
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
           (event->modifiers() & Qt::ControlModifier);
}

bool isCancelKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Escape && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool handleDialogKeys(QWidget* window, const QKeyEvent* event, const std::function<void()>& confirm,
                      const std::function<void()>& cancel) {
    if (isCancelKey(event)) {
        guard(window, cancel);
        return true;
    }
    if (isConfirmKey(event)) {
        guard(window, confirm);
        return true;
    }
    return false;
}

void centreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
