#pragma once

#include <QObject>
#include <functional>

class QKeyEvent;
class QWidget;

// Lets a window see key presses before its controls do, as long as it is visible.
// The handler returns true when it consumed the key.
class KeyPreview : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(QKeyEvent*)>;
    KeyPreview(QWidget* window, Handler handler);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    Handler m_handler;
};

// The usual modal-window keys: Esc cancels, Enter with Ctrl held confirms.
bool isConfirmKey(const QKeyEvent* event);
bool isCancelKey(const QKeyEvent* event);

// The keys of a window with OK and Cancel: Esc runs `cancel`, Ctrl+Enter runs `confirm`, each
// through the action guard. Returns true when the key was one of them.
bool handleDialogKeys(QWidget* window, const QKeyEvent* event, const std::function<void()>& confirm,
                      const std::function<void()>& cancel);

// Places a window in the middle of its screen's available area.
void centreOnScreen(QWidget* window);
