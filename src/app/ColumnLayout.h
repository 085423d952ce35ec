#pragma once

#include <QList>

class IniFile;

// The list's column layout as kept in the layout file: the order of the 22 attributes, which of
// them are shown, and their widths (ticks and widths keyed by attribute index).
namespace ColumnLayout {

inline constexpr int DefaultWidth = 50;

struct Entry {
    int attribute = 0;
    bool checked = false;
};

struct Column {
    int attribute = 0;
    int width = DefaultWidth;
};

// All 22 attributes in index order, none ticked.
QList<Entry> defaultEntries();

// The order and ticks the file gives. A position naming no attribute, or one already placed at an
// earlier position, is skipped; attributes the file never places follow in index order, so the
// result always holds each of the 22 attributes exactly once.
QList<Entry> readEntries(const IniFile& ini);

// Writes order and ticks of all positions; widths are left alone.
void writeEntries(IniFile& ini, const QList<Entry>& entries);

// The columns the list shows, in order, with their widths.
QList<Column> visibleColumns(const IniFile& ini);

// Writes the width of every given column under its attribute index.
void writeWidths(IniFile& ini, const QList<Column>& columns);

} // namespace ColumnLayout
