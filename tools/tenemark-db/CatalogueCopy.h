#pragma once

#include "StoreSettings.h"

#include <QString>
#include <QStringList>

#include <functional>

// One end of a copy: a catalogue file, or a database on a server.
struct CatalogueLocation {
    QString path;         // the file, when `server` is not a server
    StoreSettings server; // Driver::Server for a server
    bool isServer() const { return server.isServer(); }
    QString describe() const;
};

// What a finished copy did.
struct CopyReport {
    QStringList counts; // "items: 200", one per table, in copy order
    int pictures = 0;   // slides whose bytes were compared after the copy
    // Values the target cannot hold as they are, one line each ("items 12, date_reg: ..."): a
    // registration date that is no date, a number that is text, a binary value in a text column.
    QStringList notes;
};

// Copies a whole catalogue, every table with its ids, from a file to a server, from a server to
// a file, or between two of either, in one transaction on the target. A file target must not
// exist yet; a server target gets the tables when it has none and must have no rows in them.
// The automatic numbering goes on after the highest number the source ever gave. Afterwards,
// still inside the transaction, the row counts of every table and the bytes of every picture are
// compared with the source; any difference undoes the copy.
//
// A value that the target's column cannot hold (a registration date that is not a date, a number
// held as text, a whole number with a fraction) is stored as empty (null) and reported in
// CopyReport::notes, with the item and the value, never dropped silently. Throws AppError on
// failure; nothing is left on the target then (a new file is removed).
CopyReport copyCatalogue(const CatalogueLocation& from, const CatalogueLocation& to,
                         const std::function<void(const QString&)>& progress = {});
