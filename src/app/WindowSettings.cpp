#include "WindowSettings.h"

#include "IniFile.h"

#include <QWidget>

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

WindowPlacement WindowPlacement::of(const QWidget* window) {
    WindowPlacement p;
    const Qt::WindowStates s = window->windowState();
    if (s & Qt::WindowMinimized)
        p.state = State::Minimized;
    else if (s & (Qt::WindowMaximized | Qt::WindowFullScreen))
        p.state = State::Maximized;
    p.bounds = window->geometry();
    return p;
}

void WindowPlacement::applyTo(QWidget* window) const {
    const Qt::WindowStates s = window->windowState();
    if (s & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))
        window->setWindowState(Qt::WindowNoState);
    window->setGeometry(bounds);
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
