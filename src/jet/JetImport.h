#pragma once

#include "AppError.h"

#include <QString>
#include <QStringList>

#include <functional>

// What a conversion did.
struct JetImportReport {
    QStringList counts; // "items: 50", one per table, in the order converted
    int pictures = 0;   // slides whose bytes were compared after the conversion
    // Each value not kept as it was ("items 12, stoim: ..."), each table or column of the file
    // that the catalogue has no place for, and each catalogue column the file lacks.
    QStringList notes;
};

// Converts a catalogue kept in a Jet 4 file (JetFile) into a new catalogue file, every table with
// its ids, in one transaction. The automatic numbering of each table goes on after the highest
// number the file ever gave. Before the commit the row counts of every table and the bytes of
// every picture are compared with the file's; any difference undoes the conversion.
//
// A value the catalogue cannot hold as it is (a text in a numeric column, a date outside the years
// 100 to 9999, a sum of money finer than a double keeps) is stored as near as it can be, or as
// empty, and reported in the notes; so are the file's tables and columns that the catalogue does
// not know, which are left out. A missing catalogue table, a damaged file or a refused write
// throws AppError with the reason; the new file is removed then and the Jet file is never changed.
class JetImport {
public:
    // Thrown when the cancel check said so; nothing is left behind then either.
    class Cancelled : public AppError {
    public:
        Cancelled();
    };

    JetImport(QString jetPath, QString targetPath);

    // Called after each row with the rows converted and the rows of all tables together.
    void setProgress(std::function<void(qint64 done, qint64 total)> progress);
    // Asked before each row; true stops the conversion with Cancelled.
    void setCancelCheck(std::function<bool()> cancelled);
    // Called with each line of JetImportReport::counts as its table is done.
    void setTableDone(std::function<void(const QString& line)> tableDone);

    // The target must not exist. Throws AppError (or Cancelled).
    JetImportReport run();

private:
    QString m_jetPath;
    QString m_targetPath;
    std::function<void(qint64, qint64)> m_progress;
    std::function<bool()> m_cancelled;
    std::function<void(const QString&)> m_tableDone;
};
