// Times the item list load on a catalogue of 100,000 items:
//  (a) the list statement through Qt SQL, every column read as text;
//  (b) the floor: the same statement stepped through SQLite's own interface, every column read as
//      text, on a connection of its own;
//  (c) a full LoadItemList with all 22 columns visible;
//  (d) the same after a header click (sorted by the second column).
// Prints the best of a few runs of each and the ratios c/a and c/b, the latter last. It never fails
// on the numbers.
#include "AppPaths.h"
#include "Database.h"
#include "ItemListModel.h"
#include "Statements.h"
#include "TDirectoryForm.h"
#include "TKvartaFilterForm.h"
#include "TMainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTextStream>
#include <sqlite3.h>

#include <cstdio>
#include <functional>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int ItemCount = 100000;
constexpr int Repetitions = 3;

qint64 bestOf(const std::function<void()>& run) {
    qint64 best = std::numeric_limits<qint64>::max();
    for (int i = 0; i < Repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = qMin(best, timer.elapsed());
    }
    return best;
}

void writeAllColumnsVisible(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write the layout file");
    QTextStream out(&file);
    out << "[Checked]\n";
    for (int a = 0; a < 22; ++a)
        out << "Field" << a << "=1\n";
    out << "[Width]\n";
    for (int a = 0; a < 22; ++a)
        out << "Field" << a << "=80\n";
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("cannot create a temporary folder");
    const QString folder = dir.path() + u'/';
    const QString dbPath = folder + u"db.MyDB"_s;

    std::printf("building a catalogue of %d items...\n", ItemCount);
    std::fflush(stdout);
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QString::fromUtf8(TENEMARK_DB_TOOL),
               {u"demo"_s, dbPath, u"--items"_s, QString::number(ItemCount), u"--no-photos"_s});
    if (!tool.waitForFinished(-1) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        qFatal("the database tool failed");

    AppPaths::setExecutableFolderOverride(folder);
    writeAllColumnsVisible(folder + u"fields.ini"_s);

    TMainForm main;
    if (!main.FormCreate())
        qFatal("no database");
    auto* directory = new TDirectoryForm(&main);
    auto* filter = new TKvartaFilterForm(directory, &main);
    main.setWindows(nullptr, directory, filter, nullptr);
    main.ApplyColumnLayout();

    const QString statement = Statements::itemList(QString(), u"date_reg"_s, true);
    qint64 rows = 0;
    const qint64 raw = bestOf([&] {
        QSqlQuery q(Database::connection());
        q.setForwardOnly(true);
        if (!q.exec(statement))
            qFatal("the list statement failed");
        const int columns = q.record().count();
        rows = 0;
        while (q.next()) {
            for (int c = 0; c < columns; ++c) {
                const QString text = q.value(c).toString();
                Q_UNUSED(text);
            }
            ++rows;
        }
    });

    sqlite3* own = nullptr;
    if (sqlite3_open_v2(dbPath.toUtf8().constData(), &own, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        qFatal("cannot open the catalogue through SQLite");
    qint64 floorRows = 0;
    const qint64 floor = bestOf([&] {
        sqlite3_stmt* stmt = nullptr;
        const QByteArray text = statement.toUtf8();
        if (sqlite3_prepare_v2(own, text.constData(), -1, &stmt, nullptr) != SQLITE_OK)
            qFatal("the list statement failed");
        const int columns = sqlite3_column_count(stmt);
        floorRows = 0;
        std::size_t bytes = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            for (int c = 0; c < columns; ++c) {
                const unsigned char* value = sqlite3_column_text(stmt, c);
                bytes += value ? std::size_t(sqlite3_column_bytes(stmt, c)) : 0;
            }
            ++floorRows;
        }
        sqlite3_finalize(stmt);
        if (bytes == 0)
            qFatal("nothing read");
    });
    sqlite3_close(own);

    const qint64 load = bestOf([&] { main.LoadItemList(); });
    const int listed = main.itemModel()->rowCount();

    main.ItemsLVColumnClick(1);
    const qint64 sorted = bestOf([&] { main.LoadItemList(); });

    std::printf("rows: %lld (SQLite %lld, listed %d)\n", static_cast<long long>(rows),
                static_cast<long long>(floorRows), listed);
    std::printf("Qt SQL statement, all columns as text: %lld ms\n", static_cast<long long>(raw));
    std::printf("SQLite statement, all columns as text: %lld ms\n", static_cast<long long>(floor));
    std::printf("LoadItemList, 22 columns:              %lld ms\n", static_cast<long long>(load));
    std::printf("LoadItemList after a header click:     %lld ms\n", static_cast<long long>(sorted));
    std::printf("load/raw ratio: %.2f\n", raw > 0 ? double(load) / double(raw) : 0.0);
    std::printf("load/sqlite ratio: %.2f\n", floor > 0 ? double(load) / double(floor) : 0.0);
    return 0;
}
