#pragma once

#include <QIcon>
#include <QStringView>

// The program's own pictures, compiled in as SVG resources (":/icons/<name>.svg").
namespace Icons {
QIcon get(QStringView name);
QPixmap pixmap(QStringView name, int size);
} // namespace Icons
