// How long the interface goes without its event loop while a save waits 10 s for another copy of
// the program that holds the catalogue file: a 5 ms timer notes the longest gap between two of its
// ticks, from the click until the save went through (the wait window shows after half a second).
// Prints "longest time without events: N ms". It never fails on the numbers.
#include "Database.h"
#include "ItemStore.h"
#include "WaitWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <sqlite3.h>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"db.MyDB"_s);
    Database::createSchema(path);
    Database::open(path);
    Database::setWaiter({&OperationWait::pause, &OperationWait::finished});
    QWidget window;
    window.resize(400, 300);
    window.show();

    // The other copy: a connection of its own in the middle of a write, letting go after 10 s.
    sqlite3* other = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &other) != SQLITE_OK ||
        sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return 1;
    QTimer::singleShot(10'000, [other] { sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr); });

    QElapsedTimer since;
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] { longest = std::max(longest, since.restart()); });
    QTimer::singleShot(0, [&] {
        QElapsedTimer clock;
        clock.start();
        since.start();
        tick.start(5);
        StoreQuery query;
        LookupStore::addEntry(query, u"grupy"_s, u"Продажа"_s);
        tick.stop();
        std::printf("the save waited %lld ms\nlongest time without events: %lld ms\n", clock.elapsed(),
                    longest);
        app.quit();
    });
    const int status = app.exec();
    sqlite3_close(other);
    Database::close();
    return status;
}
