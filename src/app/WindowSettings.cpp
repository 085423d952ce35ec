#include "WindowSettings.h"

#include "IniFile.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {
const QString MainSection = u"MainForm"_s;
const QString DirectorySection = u"DirectoryForm"_s;
const QString Maximized = u"MAXIMIZED"_s;
const QString Normal = u"NORMAL"_s;

WindowPlacement readPlacement(const IniFile& ini, const QString& section) {
    const WindowPlacement defaults;
    WindowPlacement p;
    p.bounds = QRect(ini.readInteger(section, u"Left"_s, defaults.bounds.left()),
                     ini.readInteger(section, u"Top"_s, defaults.bounds.top()),
                     ini.readInteger(section, u"Width"_s, defaults.bounds.width()),
                     ini.readInteger(section, u"Height"_s, defaults.bounds.height()));
    // Only the exact upper-case word maximises.
    p.state = ini.readString(section, u"State"_s, Normal) == Maximized ? WindowPlacement::State::Maximized
                                                                       : WindowPlacement::State::Normal;
    return p;
}

void writePlacement(IniFile& ini, const QString& section, const WindowPlacement& p) {
    if (p.state == WindowPlacement::State::Normal) {
        ini.writeInteger(section, u"Left"_s, p.bounds.left());
        ini.writeInteger(section, u"Top"_s, p.bounds.top());
        ini.writeInteger(section, u"Width"_s, p.bounds.width());
        ini.writeInteger(section, u"Height"_s, p.bounds.height());
    }
    ini.writeString(section, u"State"_s, p.state == WindowPlacement::State::Maximized ? Maximized : Normal);
}

QList<int> readColumns(const IniFile& ini, const QString& prefix, const QList<int>& current) {
    QList<int> widths = current;
    for (qsizetype i = 0; i < widths.size(); ++i)
        widths[i] = ini.readInteger(DirectorySection, prefix + QString::number(i), widths[i]);
    return widths;
}

void writeColumns(IniFile& ini, const QString& prefix, const QList<int>& widths) {
    for (qsizetype i = 0; i < widths.size(); ++i)
        ini.writeInteger(DirectorySection, prefix + QString::number(i), widths[i]);
}
} // namespace

namespace {

QMargins frameMargins(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

// The frame's size becomes known only once the window is shown (the window manager adds it).
// Until then the bounds are applied as if there were no frame, and the inner size is corrected
// once the window shows in the normal state with the size it was given: at the first show, or for
// a window shown maximised, once the window manager has restored it. After a change of state the
// correction waits until the window has been still for a moment, so that the frame it measures
// is the normal one and not the maximised one.
class OuterSizeKeeper : public QObject {
public:
    OuterSizeKeeper(QWidget* window, QSize outer, QSize inner)
        : QObject(window), m_window(window), m_outer(outer), m_inner(inner) {
        m_settle.setSingleShot(true);
        m_settle.setInterval(SettleMs);
        connect(&m_settle, &QTimer::timeout, this, [this] { correct(); });
        window->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_window || m_done)
            return false;
        if (event->type() == QEvent::Show)
            correct();
        else if (event->type() == QEvent::WindowStateChange || event->type() == QEvent::Resize)
            m_settle.start();
        return false;
    }
    // The outer size the window is meant to have while the correction is pending (and it still has
    // the size it was given).
    QSize pendingOuterSize() const { return m_done || m_window->size() != m_inner ? QSize() : m_outer; }

private:
    static constexpr int SettleMs = 100;
    static constexpr int RestoreWaitMs = 5000;

    void correct() {
        if (m_done || !m_window->isVisible() ||
            (m_window->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)))
            return;
        if (m_window->size() != m_inner) {
            // The window manager has not restored it yet; another size after a while is the user's.
            if (!m_sizeWait.isValid())
                m_sizeWait.start();
            if (m_sizeWait.elapsed() < RestoreWaitMs)
                m_settle.start();
            else
                finish();
            return;
        }
        const QMargins m = frameMargins(m_window);
        if (m.isNull() && ++m_tries < 10) { // the window manager may not have framed it yet
            m_settle.start();
            return;
        }
        m_window->resize(m_outer.shrunkBy(m));
        finish();
    }
    void finish() {
        m_done = true;
        m_window->removeEventFilter(this);
        deleteLater();
    }

    QWidget* m_window;
    QSize m_outer;
    QSize m_inner;
    QTimer m_settle;
    QElapsedTimer m_sizeWait;
    int m_tries = 0;
    bool m_done = false;
};

} // namespace

WindowPlacement WindowPlacement::of(const QWidget* window) {
    WindowPlacement p;
    const Qt::WindowStates s = window->windowState();
    if (s & Qt::WindowMinimized)
        p.state = State::Minimized;
    else if (s & (Qt::WindowMaximized | Qt::WindowFullScreen))
        p.state = State::Maximized;
    // The outer bounds, frame included.
    p.bounds = window->frameGeometry();
    for (const QObject* child : window->children())
        if (const auto* keeper = dynamic_cast<const OuterSizeKeeper*>(child); keeper && keeper->pendingOuterSize().isValid())
            p.bounds.setSize(keeper->pendingOuterSize());
    return p;
}

void WindowPlacement::applyTo(QWidget* window) const {
    const Qt::WindowStates s = window->windowState();
    if (s & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))
        window->setWindowState(Qt::WindowNoState);
    // The stored bounds are the frame's: move() places the frame, the inner size leaves room for it.
    window->move(bounds.topLeft());
    const QSize inner = bounds.size().shrunkBy(frameMargins(window));
    window->resize(inner);
    for (QObject* child : window->children())
        if (auto* keeper = dynamic_cast<OuterSizeKeeper*>(child))
            delete keeper;
    if (!window->isVisible() || frameMargins(window).isNull())
        new OuterSizeKeeper(window, bounds.size(), inner);
    if (state == State::Maximized)
        window->setWindowState(Qt::WindowMaximized);
}

MainSettings MainSettings::read(const IniFile& ini, const MainSettings& current) {
    MainSettings s;
    s.main = readPlacement(ini, MainSection);
    s.panel2Width = ini.readInteger(MainSection, u"Panel2"_s, current.panel2Width);
    s.directory = readPlacement(ini, DirectorySection);
    s.dirListWidth = ini.readInteger(DirectorySection, u"DirLV_Width"_s, current.dirListWidth);
    s.dirColumnWidths = readColumns(ini, u"DirLV_Column"_s, current.dirColumnWidths);
    s.entryColumnWidths = readColumns(ini, u"DirItemsLV_Column"_s, current.entryColumnWidths);
    return s;
}

void MainSettings::write(IniFile& ini) const {
    writePlacement(ini, MainSection, main);
    ini.writeInteger(MainSection, u"Panel2"_s, panel2Width);
    writePlacement(ini, DirectorySection, directory);
    writeColumns(ini, u"DirLV_Column"_s, dirColumnWidths);
    writeColumns(ini, u"DirItemsLV_Column"_s, entryColumnWidths);
}
