// tenemark-db on a server: the tables made there, and whole catalogues copied from a file to a
// server and back, compared as the program's list shows them.
#include "Database.h"
#include "ItemListReader.h"
#include "ItemRowStore.h"
#include "ItemStore.h"
#include "Schema.h"
#include "SlideStore.h"
#include "TestServer.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run tool(const QStringList& args) {
    QProcess p;
    p.start(QString::fromUtf8(TENEMARK_DB_TOOL), args);
    if (!p.waitForFinished(240'000))
        qFatal("the tool did not finish");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

TestServer& server() {
    TestServer* s = TestServer::instance();
    if (!s)
        qFatal("no test server: %s", qPrintable(TestServer::unavailableReason()));
    return *s;
}

QStringList allColumns() {
    QStringList columns;
    for (int a = 0; a < AttributeCount; ++a)
        columns << attributeColumn(a);
    return columns;
}

// The whole list as the main window shows it, by id, each row "id: cell|cell|...".
QStringList listed() {
    StoreQuery query;
    ItemListReader::Request request;
    request.sortColumn = u"id"_s;
    request.columns = allColumns();
    ItemRowStore rows(request.columns);
    ItemListReader::read(query, request, rows);
    QStringList lines;
    for (int r = 0; r < rows.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < rows.columnCount(); ++c)
            cells << rows.text(r, c);
        lines << u"%1: %2"_s.arg(rows.id(r)).arg(cells.join(u'|'));
    }
    return lines;
}

QStringList tableCounts() {
    QStringList counts;
    QSqlQuery q(Database::connection());
    for (const QString& table : {u"items"_s, u"slides"_s, u"rooms"_s, u"pwl_cell"_s, u"grupy"_s}) {
        if (!q.exec(u"select count(*) from "_s + table) || !q.next())
            qFatal("cannot count %s", qPrintable(table));
        counts << u"%1: %2"_s.arg(table).arg(q.value(0).toLongLong());
    }
    return counts;
}

// Runs statements on a catalogue file through SQLite.
void onFile(const QString& path, const QStringList& statements) {
    const QString name = u"file"_s;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot open the file");
        QSqlQuery q(db);
        for (const QString& s : statements) {
            if (!q.exec(s))
                qFatal("%s: %s", qPrintable(s), qPrintable(q.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

class TestServerTool : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { Database::close(); }

    void createOnTheServer() {
        const QString conninfo = server().settings(server().createDatabase()).connectionString();
        Run r = tool({u"create"_s, u"--server"_s, conninfo});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.endsWith(u"/catalogue1: empty catalogue\n"_s) ||
                     r.out.contains(u": empty catalogue\n"_s),
                 qPrintable(r.out));
        QCOMPARE(Database::openServer(StoreSettings::fromConnectionString(conninfo)),
                 Database::ServerLogin::Opened);
        QCOMPARE(Database::catalogueTablesIn(Database::connection()).size(), 18);
        Database::close();

        r = tool({u"create"_s, u"--server"_s, conninfo});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.startsWith(u"tenemark-db: В базе данных уже есть таблицы каталога (items, slides, "_s),
                 qPrintable(r.err));
    }

    void wrongArguments_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("problem");
        QTest::newRow("no target") << QStringList{u"copy"_s, u"a.MyDB"_s} << u"no catalogue given"_s;
        QTest::newRow("no connection string")
            << QStringList{u"copy"_s, u"a.MyDB"_s, u"--server"_s} << u"--server needs a connection string"_s;
        QTest::newRow("password") << QStringList{u"create"_s, u"--server"_s, u"host=x password=p"_s}
                                  << u"Пароль в строке подключения не принимается: он берётся из ~/.pgpass "
                                     u"(или файла из PGPASSFILE) либо из переменной PGPASSWORD"_s;
        QTest::newRow("third") << QStringList{u"copy"_s, u"a"_s, u"b"_s, u"c"_s}
                               << u"unexpected argument \"c\""_s;
    }

    void wrongArguments() {
        QFETCH(QStringList, args);
        QFETCH(QString, problem);
        const Run r = tool(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.startsWith(u"tenemark-db: "_s + problem + u'\n'), qPrintable(r.err));
    }

    // A catalogue made by the tool, with values that only a file holds, to the server and back.
    void copyToTheServerAndBack() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"db.MyDB"_s);
        Run r = tool({u"demo"_s, file, u"--items"_s, u"60"_s});
        QCOMPARE(r.exitCode, 0);
        onFile(file, {u"update items set date_reg = 'вчера' where id = 5"_s,
                      u"update items set obsh_plosh = '45,5 м' where id = 6"_s,
                      u"update items set etazh = 2.5 where id = 7"_s,
                      u"update items set stoim = '100' where id = 8"_s,
                      u"update items set osob = x'4142' where id = 9"_s,
                      u"update items set date_reg = '2024-03-01' where id = 10"_s,
                      u"update items set sost = 'a' || char(9) || 'b\\n\\c' || char(13) where id = 11"_s,
                      // an hour that the clocks skip in a zone with summer time
                      u"update items set date_reg = '2024-03-31 02:30:00' where id = 12"_s,
                      u"delete from items where id = 60"_s,
                      u"insert into pwl_cell (pwl_value) values ('Пароль 1')"_s});
        Database::open(file, Database::Access::ReadOnly);
        const QStringList fromFile = listed();
        const QStringList fileCounts = tableCounts();
        StoreQuery fileQuery;
        const QList<SlideRecord> fileSlides = SlideStore::loadSlides(fileQuery, 3);
        fileQuery = StoreQuery(QSqlDatabase());
        Database::close();

        const StoreSettings target = server().settings(server().createDatabase());
        qputenv("TZ", "Europe/Berlin");
        r = tool({u"copy"_s, file, u"--server"_s, target.connectionString()});
        qunsetenv("TZ");
        QCOMPARE(r.err, QString());
        QCOMPARE(r.exitCode, 0);
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.first(), u"items: 59"_s);
        QVERIFY(lines.contains(u"pwl_cell: 1"_s));
        QVERIFY(lines.contains(u"pictures compared: %1"_s.arg(fileCounts[1].section(u' ', 1))));
        const QStringList notes = lines.filter(u"not kept as it was: "_s);
        QCOMPARE(
            notes,
            (QStringList{
                u"not kept as it was: items 5, date_reg: \"вчера\" is not a date; copied as empty"_s,
                u"not kept as it was: items 6, obsh_plosh: \"45,5 м\" is not a number; copied as empty"_s,
                u"not kept as it was: items 7, etazh: \"2.5\" is not a whole number of 32 bits; copied "
                u"as empty"_s,
                u"not kept as it was: items 9, osob: binary value of 2 bytes is binary in a text "
                u"column; copied as its UTF-8 text"_s}));
        QVERIFY(lines.last().endsWith(u": copied, 4 value(s) not kept as they were (listed above)"_s));

        // The list on the server shows what the file's did, but for the values listed.
        QCOMPARE(Database::openServer(target), Database::ServerLogin::Opened);
        QStringList expected = fromFile;
        const auto blank = [&](int id, int column) {
            qsizetype row = 0;
            while (!expected[row].startsWith(u"%1: "_s.arg(id)))
                ++row;
            QStringList cells = expected[row].section(u": "_s, 1).split(u'|');
            cells[column] = QString();
            expected[row] = u"%1: %2"_s.arg(id).arg(cells.join(u'|'));
        };
        blank(5, 0);
        blank(6, 3);
        blank(7, 10);
        const QStringList fromServer = listed();
        QCOMPARE(fromServer, expected);
        QCOMPARE(tableCounts(), fileCounts);
        StoreQuery query;
        const QList<SlideRecord> serverSlides = SlideStore::loadSlides(query, 3);
        QCOMPARE(serverSlides.size(), fileSlides.size());
        for (qsizetype i = 0; i < fileSlides.size(); ++i) {
            QCOMPARE(serverSlides[i].picture, fileSlides[i].picture);
            QCOMPARE(serverSlides[i].ext, fileSlides[i].ext);
            QCOMPARE(serverSlides[i].notes, fileSlides[i].notes);
        }
        // Numbering goes on after the highest id the file ever gave, the deleted 60 included.
        ItemStore::NewItem item;
        item.dateReg = QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5));
        ItemStore::insertItem(query, item);
        QCOMPARE(ItemListReader::count(query, QString(), {}), 60);
        QCOMPARE(listed().last().section(u':', 0, 0), u"61"_s);
        query = StoreQuery(QSqlDatabase());
        Database::close();

        // A server that holds a catalogue takes no second one.
        r = tool({u"copy"_s, file, u"--server"_s, target.connectionString()});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(u"already holds a catalogue (items: 60 rows); the copy needs empty tables"_s),
                 qPrintable(r.err));

        // And back to a new file: nothing to report, the same list.
        const QString back = dir.filePath(u"back.MyDB"_s);
        r = tool({u"copy"_s, u"--server"_s, target.connectionString(), back});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!r.out.contains(u"not kept"_s));
        Database::openServer(target);
        const QStringList serverNow = listed();
        Database::close();
        Database::open(back, Database::Access::ReadOnly);
        QCOMPARE(listed(), serverNow);
        StoreQuery backQuery;
        QCOMPARE(SlideStore::loadSlides(backQuery, 3).first().picture, fileSlides.first().picture);
        backQuery = StoreQuery(QSqlDatabase());
        Database::close();
        // A file's numbering too.
        onFile(back, {u"insert into items (grupa) values ('x')"_s});
        Database::open(back, Database::Access::ReadOnly);
        QCOMPARE(listed().last().section(u':', 0, 0), u"62"_s);
    }

    void nothingIsLeftWhenTheSourceIsNoCatalogue() {
        QTemporaryDir dir;
        const QString source = dir.filePath(u"other.db"_s);
        onFile(source, {u"create table items (id integer primary key)"_s});
        const QString target = dir.filePath(u"copy.MyDB"_s);
        const Run r = tool({u"copy"_s, source, target});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.startsWith(
                     u"tenemark-db: %1 is no catalogue: it lacks the tables slides, rooms, "_s.arg(source)),
                 qPrintable(r.err));
        QVERIFY(!QFile::exists(target));
    }
};

QTEST_GUILESS_MAIN(TestServerTool)
#include "tst_servertool.moc"
