#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <functional>

// The text of the details panel's page "Общие": twenty of an item's attributes, one labelled
// line each.
namespace ItemDetailsText {

struct Line {
    QStringView label;  // "Район: "
    QStringView column; // items column
};

// The lines in the order they are shown.
extern const std::array<Line, 20> Lines;

// Every line's label followed by `valueOf(column)`, the lines joined by CR LF (none after the
// last). Values are inserted unchanged, so one with line breaks spans several lines.
QString build(const std::function<QString(const QString& column)>& valueOf);

} // namespace ItemDetailsText
