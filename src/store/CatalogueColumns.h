#pragma once

#include <QList>
#include <QString>

// The kind of value a catalogue column holds, as whole-catalogue copies and conversions write it.
enum class ValueKind { Integer, Real, Money, Date, Text, Binary };

struct CatalogueColumn {
    QString name;
    ValueKind kind;
};

// The columns of a catalogue table (one of Statements::catalogueTables()) as the program knows
// them, in lower case.
QList<CatalogueColumn> catalogueColumns(const QString& table);
// Whether the table numbers its rows automatically in `id`.
bool hasNumberedId(const QString& table);
