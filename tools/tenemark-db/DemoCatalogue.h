#pragma once

#include <QDate>
#include <QString>

struct DemoOptions {
    int items = 200;
    bool photos = true;
    // Registration dates fall in the three years before this day.
    QDate today = QDate::currentDate();
};

// Fills the catalogue open on the shared connection with directories, items, rooms and slides in
// one transaction. The same options always give the same data. Throws AppError on failure.
void writeDemoCatalogue(const DemoOptions& options);
