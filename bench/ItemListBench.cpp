// Times the item list load on a catalogue of 100,000 items:
//  (a) the list statement through Qt SQL, every column read as text;
//  (b) the floor: the same statement stepped through SQLite's own interface, every column read as
//      text, on a connection of its own;
//  (c) a full LoadItemList with all 22 columns visible;
//  (d) the same after a header click (sorted by the second column);
//  and a full scroll through the list in a window of 1000 x 700, a page at a time, each painted,
//  then two views alike scrolled in turns, one over the list's rows and one over the same texts
//  held as QStrings, as the list kept them before.
// Then the same catalogue on a PostgreSQL server (a throw-away cluster of the benchmark's own,
// filled by "tenemark-db copy"):
//  (e) LoadItemList with all 22 columns from the server;
//  (f) the floor: the server's list statement through libpq, every column read as text.
// Prints the best of a few runs of each (a floor and the load it is set against in turns), then the ratios
// together: the scroll over the two ways of keeping the texts, c/a, c/b and e/f, the last last. Without a
// PostgreSQL installation it says so instead of (e) and (f). It never fails on the numbers.
#include "AppPaths.h"
#include "BenchCatalogue.h"
#include "Database.h"
#include "ItemListModel.h"
#include "ListStyle.h"
#include "Statements.h"
#include "TDirectoryForm.h"
#include "TKvartaFilterForm.h"
#include "TMainForm.h"
#include "TestServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

constexpr int Repetitions = 3;

qint64 bestOf(const std::function<void()>& run) {
    return qint64(BenchCatalogue::bestOf(Repetitions, run));
}

// The best times of two runs taken in turns, so that a change in the machine's load touches both.
std::pair<qint64, qint64> bestOfBoth(const std::function<void()>& first,
                                     const std::function<void()>& second) {
    constexpr int Turns = 5;
    qint64 a = std::numeric_limits<qint64>::max(), b = a;
    for (int i = 0; i < Turns; ++i) {
        a = qMin(a, qint64(BenchCatalogue::bestOf(1, first)));
        b = qMin(b, qint64(BenchCatalogue::bestOf(1, second)));
    }
    return {a, b};
}

// The list as it was kept before the row store: every cell's whole text as a QString, painted
// through ItemListModel::shownText(). The same view scrolls over it for comparison.
class QStringRows : public QAbstractTableModel {
public:
    explicit QStringRows(const ItemListModel& source) : m_source(source), m_columns(source.columnCount()) {
        for (int r = 0; r < source.rowCount(); ++r) {
            for (int c = 0; c < m_columns; ++c)
                m_cells.append(source.cellText(r, c));
        }
    }
    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : int(m_cells.size() / qMax(1, m_columns));
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : m_columns;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return ItemListModel::shownText(m_cells.at(qsizetype(index.row()) * m_columns + index.column()));
        return m_source.data(m_source.index(index.row(), index.column()), role);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        return m_source.headerData(section, orientation, role);
    }

private:
    const ItemListModel& m_source;
    int m_columns;
    QList<QString> m_cells;
};

// Scrolls the list from the top to the bottom a page at a time, painting every page, and returns
// the milliseconds it took.
double fullScroll(QTableView* view, int* pages) {
    QScrollBar* bar = view->verticalScrollBar();
    bar->setValue(0);
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    *pages = 0;
    for (int value = 0;; value += bar->pageStep()) {
        bar->setValue(value);
        view->viewport()->repaint();
        ++*pages;
        if (value >= bar->maximum())
            break;
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

// Two views alike, one over each model, scrolled from the top to the bottom a page of one and then
// the same page of the other, so that a change in the machine's load touches both; the
// milliseconds of each.
std::pair<double, double> scrollInTurns(QAbstractItemModel* first, QAbstractItemModel* second) {
    QTableView views[2];
    QAbstractItemModel* models[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        ListStyle::apply(&views[i]);
        views[i].setModel(models[i]);
        for (int c = 0; c < models[i]->columnCount(); ++c)
            views[i].setColumnWidth(c, 80);
        views[i].resize(1000, 700);
        views[i].show();
    }
    QCoreApplication::processEvents();
    qint64 spent[2] = {0, 0};
    QScrollBar* bar = views[0].verticalScrollBar();
    for (int value = 0;; value += bar->pageStep()) {
        for (int i = 0; i < 2; ++i) {
            QElapsedTimer timer;
            timer.start();
            views[i].verticalScrollBar()->setValue(value);
            views[i].viewport()->repaint();
            spent[i] += timer.nsecsElapsed();
        }
        if (value >= bar->maximum())
            break;
    }
    return {double(spent[0]) / 1e6, double(spent[1]) / 1e6};
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

    std::printf("building a catalogue of %d items...\n", BenchCatalogue::ItemCount);
    std::fflush(stdout);
    BenchCatalogue::build(dir.path());
    AppPaths::setExecutableFolderOverride(folder);

    auto main = std::make_unique<TMainForm>();
    if (!main->FormCreate())
        qFatal("no database");
    auto* directory = new TDirectoryForm(main.get());
    auto* filter = new TKvartaFilterForm(directory, main.get());
    main->setWindows(nullptr, directory, filter, nullptr);
    main->ApplyColumnLayout();

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
    const auto stepSqlite = [&] {
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
    };
    const auto [floor, load] = bestOfBoth(stepSqlite, [&] { main->LoadItemList(); });
    sqlite3_close(own);
    const int listed = main->itemModel()->rowCount();

    main->resize(1000, 700);
    main->show();
    QCoreApplication::processEvents();
    int pages = 0;
    auto* view = main->findChild<QTableView*>(u"ItemsLV"_s);
    const double scrolled = fullScroll(view, &pages);
    double inTurns = 0, scrolledStrings = 0;
    {
        QStringRows strings(*main->itemModel());
        std::tie(inTurns, scrolledStrings) = scrollInTurns(main->itemModel(), &strings);
    }
    main->hide();

    main->ItemsLVColumnClick(1);
    const qint64 sorted = bestOf([&] { main->LoadItemList(); });
    main.reset();
    Database::close();

    std::printf("rows: %lld (SQLite %lld, listed %d)\n", static_cast<long long>(rows),
                static_cast<long long>(floorRows), listed);
    std::printf("Qt SQL statement, all columns as text: %lld ms\n", static_cast<long long>(raw));
    std::printf("SQLite statement, all columns as text: %lld ms\n", static_cast<long long>(floor));
    std::printf("LoadItemList, 22 columns:              %lld ms\n", static_cast<long long>(load));
    std::printf("LoadItemList after a header click:     %lld ms\n", static_cast<long long>(sorted));
    std::printf("full scroll, %d pages painted:         %.0f ms (%.2f ms a page)\n", pages, scrolled,
                scrolled / qMax(1, pages));
    std::printf("two views in turns, the list's rows:   %.0f ms\n", inTurns);
    std::printf("            and the texts as QStrings: %.0f ms\n", scrolledStrings);
    std::fflush(stdout);
    // Printed last, together.
    QList<QByteArray> ratios;
    ratios << QByteArray("scroll/strings ratio: ") + QByteArray::number(inTurns / scrolledStrings, 'f', 2)
           << QByteArray("load/raw ratio: ") +
                  QByteArray::number(double(load) / double(qMax(qint64(1), raw)), 'f', 2)
           << QByteArray("load/sqlite ratio: ") +
                  QByteArray::number(double(load) / double(qMax(qint64(1), floor)), 'f', 2);
    const auto printRatios = [&ratios] {
        for (const QByteArray& line : ratios)
            std::printf("%s\n", line.constData());
    };

    TestServer* server = TestServer::instance();
    if (!server) {
        std::printf("server: not measured, no PostgreSQL server could be started (%s)\n",
                    qPrintable(TestServer::unavailableReason()));
        printRatios();
        return 0;
    }
    const StoreSettings settings = server->settings(server->createDatabase());
    std::printf("copying the catalogue to a local PostgreSQL server...\n");
    std::fflush(stdout);
    QElapsedTimer copying;
    copying.start();
    QProcess copy;
    copy.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    copy.start(QString::fromUtf8(TENEMARK_DB_TOOL),
               {u"copy"_s, dbPath, u"--server"_s, settings.connectionString()});
    if (!copy.waitForFinished(-1) || copy.exitStatus() != QProcess::NormalExit || copy.exitCode() != 0)
        qFatal("the copy to the server failed");
    const qint64 copied = copying.elapsed();

    if (Database::openServer(settings) != Database::ServerLogin::Opened)
        qFatal("no server connection");
    auto serverMain = std::make_unique<TMainForm>();
    auto* serverDirectory = new TDirectoryForm(serverMain.get());
    auto* serverFilter = new TKvartaFilterForm(serverDirectory, serverMain.get());
    serverMain->setWindows(nullptr, serverDirectory, serverFilter, nullptr);
    serverMain->ApplyColumnLayout();

    const QString serverStatement =
        Statements::itemList(QString(), u"date_reg"_s, true, Statements::Dialect::PostgreSQL);
    PGconn* pq = PQconnectdb(settings.connectionString().toUtf8().constData());
    if (PQstatus(pq) != CONNECTION_OK)
        qFatal("cannot reach the server through libpq: %s", PQerrorMessage(pq));
    qint64 pqRows = 0;
    const auto readLibpq = [&] {
        PGresult* result = PQexec(pq, serverStatement.toUtf8().constData());
        if (PQresultStatus(result) != PGRES_TUPLES_OK)
            qFatal("the list statement failed: %s", PQresultErrorMessage(result));
        const int rowCount = PQntuples(result);
        const int columns = PQnfields(result);
        std::size_t bytes = 0;
        for (int r = 0; r < rowCount; ++r) {
            for (int c = 0; c < columns; ++c) {
                const char* value = PQgetvalue(result, r, c);
                bytes += value ? std::size_t(PQgetlength(result, r, c)) : 0;
            }
        }
        pqRows = rowCount;
        PQclear(result);
        if (bytes == 0)
            qFatal("nothing read");
    };
    const auto [pqTime, serverLoad] = bestOfBoth(readLibpq, [&] { serverMain->LoadItemList(); });
    const int serverListed = serverMain->itemModel()->rowCount();
    PQfinish(pq);
    serverMain.reset();
    Database::close();

    std::printf("server: rows %lld (libpq), listed %d; copy of the file %lld ms\n",
                static_cast<long long>(pqRows), serverListed, static_cast<long long>(copied));
    std::printf("libpq statement, all columns as text:  %lld ms\n", static_cast<long long>(pqTime));
    std::printf("LoadItemList from the server:          %lld ms\n", static_cast<long long>(serverLoad));
    ratios << QByteArray("load/server ratio: ") +
                  QByteArray::number(double(serverLoad) / double(qMax(qint64(1), pqTime)), 'f', 2);
    printRatios();
    return 0;
}
