#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// What the list benchmarks share: a demonstration catalogue made by the database tool, the layout
// that shows all 22 columns, timing, and measuring in a child process of the benchmark itself.
namespace BenchCatalogue {

inline constexpr int ItemCount = 100000;

// Makes `folder`/db.MyDB with `items` demonstration items without photographs, a fields.ini that
// shows every column (80 pixels wide) and a kvarta.ini without daily backups. Ends the program
// when the tool fails.
void build(const QString& folder, int items = ItemCount);
// Two catalogues in temporary folders: `full` of ItemCount items and `empty` of none.
struct FullAndEmpty {
    FullAndEmpty();
    QTemporaryDir full, empty;
};
// Only the two settings files.
void writeSettings(const QString& folder);

// The best wall-clock time of `repetitions` runs, in milliseconds.
double bestOf(int repetitions, const std::function<void()>& run);

// Runs this executable again with `arguments` and returns what it printed on its last line of
// standard output; ends the program when the child fails.
QString runChild(const QStringList& arguments);

// The process's peak resident set so far, in kilobytes (VmHWM).
qint64 peakResidentKb();

} // namespace BenchCatalogue

class Program;

namespace BenchCatalogue {

// Starts the program on the catalogue in `folder` as main() does (the application object must
// exist) and returns once the main window has shown its list and painted it.
void startProgram(Program& program, const QString& folder);

} // namespace BenchCatalogue
