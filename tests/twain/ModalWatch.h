#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// Closes any modal box that a test did not expect and keeps its text, so that the test fails at
// once instead of waiting on it. The scanner source's own dialog is not such a box.
class ModalWatch {
public:
    ModalWatch() {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible() ||
                modal->objectName() == QLatin1StringView("TwainSourceDialog"))
                return;
            auto* box = qobject_cast<QMessageBox*>(modal);
            m_unexpected.append(box ? box->text() : modal->objectName());
            if (box)
                box->done(0);
            else
                modal->close();
        });
        m_timer.start();
    }
    const QStringList& unexpected() const { return m_unexpected; }
    void clear() { m_unexpected.clear(); }

private:
    QTimer m_timer;
    QStringList m_unexpected;
};
