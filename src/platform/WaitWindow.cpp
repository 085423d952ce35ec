#include "WaitWindow.h"

#include "AppPaths.h"
#include "KeyPreview.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

WaitWindow::WaitWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(u"WaitWindow"_s);
    setWindowTitle(QString::fromUtf16(AppPaths::ApplicationTitle));
    setWindowModality(Qt::ApplicationModal);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(this);
    m_label = new QLabel(text(0), this);
    m_label->setObjectName(u"WaitLabel"_s);
    layout->addWidget(m_label);
    m_cancel = new QPushButton(u"Отмена"_s, this);
    m_cancel->setObjectName(u"WaitCancelBtn"_s);
    m_cancel->setAccessibleName(u"Отмена"_s);
    m_cancel->setDefault(true);
    layout->addWidget(m_cancel, 0, Qt::AlignHCenter);
    connect(m_cancel, &QPushButton::clicked, this, &WaitWindow::reject);
    setWaited(0);
}

QString WaitWindow::text(qint64 waitedMs) {
    return u"Другая копия программы записывает в базу данных. Ожидание… %1 с"_s.arg(
        qRound(double(waitedMs) / 1000));
}

void WaitWindow::setWaited(qint64 waitedMs) {
    const QString shown = text(waitedMs);
    if (m_label->text() == shown)
        return;
    m_label->setText(shown);
    m_label->setAccessibleName(shown);
}

// The window stays until the wait ends; the operation stops at its next attempt.
void WaitWindow::reject() {
    m_cancelled = true;
    m_cancel->setEnabled(false);
}

void WaitWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}

namespace {

struct Wait {
    bool started = false;
    QPointer<QWidget> asker;
    QPointer<WaitWindow> window;
};

Wait& current() {
    static Wait wait;
    return wait;
}

} // namespace

namespace OperationWait {

bool pause(qint64 waitedMs) {
    Wait& wait = current();
    if (!wait.started) {
        wait.started = true;
        wait.asker = QApplication::activeModalWidget();
        if (!wait.asker)
            wait.asker = QApplication::activeWindow();
    }
    if (!wait.window && waitedMs >= WindowAfterMs) {
        wait.window = new WaitWindow(wait.asker);
        wait.window->show();
        if (!wait.asker)
            centreOnScreen(wait.window);
    }
    if (wait.window)
        wait.window->setWaited(waitedMs);
    // Until the window shows, the operator's input waits in the queue; timers, painting and the
    // accessibility bus go on. Then the modal window takes the input.
    QEventLoop slice;
    QTimer::singleShot(SliceMs, Qt::PreciseTimer, &slice, &QEventLoop::quit);
    slice.exec(wait.window ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    return !(wait.window && wait.window->cancelled());
}

void finished() {
    Wait& wait = current();
    delete wait.window.data();
    wait = Wait();
}

WaitWindow* window() {
    return current().window.data();
}

} // namespace OperationWait
