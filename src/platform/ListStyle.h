#pragma once

#include <QColor>

class QAbstractItemView;
class QTableView;

// The program's list look: report style, grid lines, whole-row selection, selection visible
// without focus, no in-place editing, rows striped white and light grey by index.
namespace ListStyle {

QColor light3DColor();
QColor rowBackground(int row); // white for even rows, the light 3D edge colour for odd ones
void apply(QTableView* view);

} // namespace ListStyle
