#pragma once

#include <QList>
#include <QRect>
#include <QString>

class IniFile;
class QWidget;

// Placement of a window as the settings file keeps it.
struct WindowPlacement {
    enum class State { Normal, Maximized, Minimized };

    QRect bounds{50, 50, 700, 500}; // the normal bounds
    State state = State::Normal;

    // What a window shows now (bounds only meaningful in the normal state).
    static WindowPlacement of(const QWidget* window);
    // Applies the bounds as the window's normal bounds, then the state (maximised or normal).
    void applyTo(QWidget* window) const;
};

// Everything the settings file holds about the main window and the directory editor.
struct MainSettings {
    WindowPlacement main;
    int panel2Width = 185;
    WindowPlacement directory;
    int dirListWidth = 209;
    QList<int> dirColumnWidths;   // one per column of the list of directories
    QList<int> entryColumnWidths; // one per column of the list of entries

    // Reads the file over `current`: every missing or malformed key keeps the value in `current`
    // (the bounds and states always fall back to 50, 50, 700, 500, normal).
    static MainSettings read(const IniFile& ini, const MainSettings& current);
    // Writes the keys the program owns: bounds only for a window in the normal state, the state,
    // the details panel's width, the column widths. The directory list's width is never written.
    void write(IniFile& ini) const;
};
