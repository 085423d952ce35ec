// Memory of the item list: the program started on a catalogue of 100,000 items listed in all 22
// columns, against the same program on a catalogue without items. Each runs in a child process
// of its own and reports its peak resident set; the difference is set against the UTF-8 size of
// the listed cells (the 22 columns as SQLite hands them out as text). Not a test; run
//   build/bench/tenemark-bench-listmemory
// and read the last line, "memory/text ratio: R". It never fails on the numbers.
#include "BenchCatalogue.h"
#include "Program.h"
#include "Schema.h"
#include "TenemarkApplication.h"

#include <QTemporaryDir>
#include <malloc.h>
#include <sqlite3.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// The UTF-8 bytes of the cells the list shows.
qint64 listedTextBytes(const QString& dbPath) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        qFatal("cannot open the catalogue through SQLite");
    QByteArray columns;
    for (int a = 0; a < AttributeCount; ++a)
        columns += (a ? ", " : "") + QByteArray(ItemAttributes[size_t(a)].column);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "select " + columns + " from items", -1, &stmt, nullptr) != SQLITE_OK)
        qFatal("cannot read the catalogue");
    qint64 bytes = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        for (int c = 0; c < AttributeCount; ++c) {
            sqlite3_column_text(stmt, c);
            bytes += sqlite3_column_bytes(stmt, c);
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0) {
        // As main() does.
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
        TenemarkApplication app(argc, argv);
        Program program;
        BenchCatalogue::startProgram(program, QString::fromLocal8Bit(argv[2]));
        std::printf("%lld\n", static_cast<long long>(BenchCatalogue::peakResidentKb()));
        return 0;
    }
    QCoreApplication app(argc, argv);
    const BenchCatalogue::FullAndEmpty catalogues;
    const QTemporaryDir& full = catalogues.full;
    const QTemporaryDir& empty = catalogues.empty;
    const qint64 textBytes = listedTextBytes(full.path() + u"/db.MyDB"_s);

    const qint64 fullKb = BenchCatalogue::runChild({u"--child"_s, full.path()}).toLongLong();
    const qint64 emptyKb = BenchCatalogue::runChild({u"--child"_s, empty.path()}).toLongLong();
    const double added = double(fullKb - emptyKb) * 1024.0;
    std::printf("UTF-8 text of the listed cells: %.1f MB\n", double(textBytes) / 1e6);
    std::printf("peak resident set, 100,000 items listed: %.1f MB\n", double(fullKb) * 1024.0 / 1e6);
    std::printf("peak resident set, empty list:           %.1f MB\n", double(emptyKb) * 1024.0 / 1e6);
    std::printf("added by the list:                       %.1f MB\n", added / 1e6);
    std::printf("memory/text ratio: %.2f\n", textBytes > 0 ? added / double(textBytes) : 0.0);
    return 0;
}
