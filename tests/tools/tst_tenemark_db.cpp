#include "AppPaths.h"
#include "PictureLoader.h"
#include "Schema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run tool(const QStringList& args) {
    QProcess p;
    p.start(QString::fromUtf8(TENEMARK_DB_TOOL), args);
    Run r;
    if (!p.waitForFinished(120000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// A connection of the test's own on a file the tool wrote.
class Reader {
public:
    explicit Reader(const QString& path) : m_name(u"reader-"_s + path) {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
        m_ok = db.open();
    }
    ~Reader() { QSqlDatabase::removeDatabase(m_name); }
    bool ok() const { return m_ok; }

    QList<QVariantList> rows(const QString& sql) const {
        QSqlQuery q(QSqlDatabase::database(m_name));
        QList<QVariantList> result;
        if (!q.exec(sql)) {
            qWarning("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
            return result;
        }
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            result << row;
        }
        return result;
    }
    QVariant scalar(const QString& sql) const {
        const auto r = rows(sql);
        return r.isEmpty() ? QVariant() : r.first().value(0);
    }
    QStringList columns(const QString& table) const {
        QStringList names;
        for (const QVariantList& row : rows(u"pragma table_info(%1)"_s.arg(table)))
            names << row.value(1).toString();
        return names;
    }

private:
    QString m_name;
    bool m_ok = false;
};

QByteArray fileContent(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestTenemarkDb : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }

    void createWritesTheWholeSchema() {
        const QString path = m_dir.filePath(u"empty.MyDB"_s);
        const Run r = tool({u"create"_s, path});
        QCOMPARE(r.code, 0);
        Reader db(path);
        QVERIFY(db.ok());
        QStringList items = {u"id"_s, u"date_reg"_s};
        for (const ItemAttribute& a : ItemAttributes)
            if (QLatin1StringView(a.column) != QLatin1StringView("date_reg"))
                items << QString::fromLatin1(a.column);
        items << u"kontakt_inf"_s;
        QStringList actual = db.columns(u"items"_s);
        actual.sort();
        items.sort();
        QCOMPARE(actual, items);
        QCOMPARE(db.columns(u"slides"_s),
                 (QStringList{u"id"_s, u"parent_id"_s, u"ext"_s, u"picture"_s, u"notes"_s}));
        const QStringList rooms = db.columns(u"rooms"_s);
        for (const QString& c : {u"Items_ID"_s, u"RoomName"_s, u"P"_s})
            QVERIFY2(rooms.contains(c), qPrintable(rooms.join(u',')));
        QCOMPARE(db.columns(u"pwl_cell"_s), QStringList{u"pwl_value"_s});
        for (const DirectoryTable& t : DirectoryTables) {
            QCOMPARE(db.columns(QString::fromLatin1(t.table)), QStringList{u"naimen"_s});
            QCOMPARE(db.scalar(u"select count(*) from %1"_s.arg(QLatin1StringView(t.table))).toInt(), 0);
        }
        QCOMPARE(db.scalar(u"select count(*) from items"_s).toInt(), 0);
        QCOMPARE(db.scalar(u"select count(*) from pwl_cell"_s).toInt(), 0);
    }

    // The data folder does not exist before the program's first start.
    void missingFoldersAreMade() {
        const QString path = m_dir.filePath(u"new/data/db.MyDB"_s);
        const Run r = tool({u"demo"_s, path, u"--items"_s, u"1"_s, u"--no-photos"_s});
        QCOMPARE(r.code, 0);
        QCOMPARE(Reader(path).scalar(u"select count(*) from items"_s).toInt(), 1);
    }

    void neitherCommandOverwrites() {
        const QString path = m_dir.filePath(u"precious.MyDB"_s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
        f.close();
        for (const QString& command : {u"create"_s, u"demo"_s}) {
            const Run r = tool({command, path});
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.contains(path), qPrintable(r.err));
            QCOMPARE(fileContent(path), QByteArray("keep me"));
        }
    }

    // A mistake gives the usage on stderr and status 2; asked for, it comes on stdout with status 0.
    void usage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("help") << QStringList{u"help"_s} << 0;
        QTest::newRow("--help") << QStringList{u"--help"_s} << 0;
        QTest::newRow("-h after a command") << QStringList{u"check"_s, u"-h"_s} << 0;
        QTest::newRow("nothing") << QStringList{} << 2;
        QTest::newRow("no path") << QStringList{u"create"_s} << 2;
        QTest::newRow("unknown command") << QStringList{u"drop"_s, m_dir.filePath(u"a"_s)} << 2;
        QTest::newRow("items not a number")
            << QStringList{u"demo"_s, m_dir.filePath(u"b"_s), u"--items"_s, u"many"_s} << 2;
        QTest::newRow("items missing") << QStringList{u"demo"_s, m_dir.filePath(u"c"_s), u"--items"_s} << 2;
        QTest::newRow("negative items")
            << QStringList{u"demo"_s, m_dir.filePath(u"d"_s), u"--items"_s, u"-4"_s} << 2;
        QTest::newRow("unknown option") << QStringList{u"demo"_s, m_dir.filePath(u"e"_s), u"--colour"_s} << 2;
        QTest::newRow("demo option on create")
            << QStringList{u"create"_s, m_dir.filePath(u"f"_s), u"--no-photos"_s} << 2;
    }

    void usage() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        const Run r = tool(args);
        QCOMPARE(r.code, status);
        QVERIFY2((status == 0 ? r.out : r.err).contains(u"Usage:\n"_s), qPrintable(r.out + r.err));
        QVERIFY2((status == 0 ? r.err : r.out).isEmpty(), qPrintable(r.out + r.err));
        if (args.size() > 1)
            QVERIFY(!QFile::exists(args[1]));
    }

    void demoFillsTheCatalogue() {
        const QString path = m_dir.filePath(u"demo.MyDB"_s);
        const Run r = tool({u"demo"_s, path, u"--items"_s, u"30"_s});
        QCOMPARE(r.code, 0);
        Reader db(path);
        QVERIFY(db.ok());
        QCOMPARE(db.scalar(u"select count(*) from items"_s).toInt(), 30);

        for (const DirectoryTable& t : DirectoryTables) {
            const QString table = QString::fromLatin1(t.table);
            QVERIFY2(db.scalar(u"select count(*) from %1"_s.arg(table)).toInt() >= 3, t.table);
            // Every item's value comes from its directory.
            const QString orphans =
                u"select count(*) from items where %1 not in (select naimen from %2)"_s.arg(
                    QLatin1StringView(t.itemsColumn), table);
            QVERIFY2(db.scalar(orphans).toInt() == 0, t.table);
        }
        const QString entries = u"select naimen from sanuzly union all select naimen from tipy_stroenij "
                                u"union all select naimen from komnaty union all select naimen from grupy"_s;
        QStringList names;
        for (const QVariantList& row : db.rows(entries))
            names << row.value(0).toString();
        for (const QString& e : {u"Раздельный"_s, u"Совмещённый"_s, u"Кирпичный"_s, u"Панельный"_s,
                                 u"1-комнатная"_s, u"Продажа"_s, u"Срочная продажа"_s, u"Обмен"_s})
            QVERIFY2(names.contains(e), qPrintable(e));

        QCOMPARE(db.scalar(u"select count(*) from items where etazh < 1 or etazh > etazhnost"_s).toInt(), 0);
        QCOMPARE(db.scalar(u"select count(*) from items where typeof(obsh_plosh) <> 'real'"_s).toInt(), 0);
        QCOMPARE(db.scalar(u"select count(*) from items where obsh_plosh < 10 or obsh_plosh > 200 "
                           u"or abs(obsh_plosh * 10 - round(obsh_plosh * 10)) > 1e-6"_s)
                     .toInt(),
                 0);
        QCOMPARE(db.scalar(u"select count(*) from items where stoim <= 0 or stoim % 1000 <> 0"_s).toInt(), 0);
        QCOMPARE(db.scalar(u"select count(*) from items where dolg < 0"_s).toInt(), 0);
        QVERIFY(db.scalar(u"select count(*) from items where dolg = 0"_s).toInt() > 15);
        QVERIFY(db.scalar(u"select count(*) from items where sost like '%' || char(10) || '%' "
                          u"or osob like '%' || char(10) || '%'"_s)
                    .toInt() > 0);
        QCOMPARE(db.scalar(u"select count(*) from items where kontakt_inf not like '%+7 (9%'"_s).toInt(), 0);

        const QRegularExpression form(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"_s);
        const QDateTime now = QDateTime::currentDateTime();
        for (const QVariantList& row : db.rows(u"select date_reg from items"_s)) {
            const QString stored = row.value(0).toString();
            QVERIFY2(form.match(stored).hasMatch(), qPrintable(stored));
            const QDateTime dt = QDateTime::fromString(stored, u"yyyy-MM-dd HH:mm:ss"_s);
            QVERIFY2(dt.isValid() && dt > now.addYears(-3).addDays(-1) && dt < now.addDays(1),
                     qPrintable(stored));
        }

        QVERIFY(db.scalar(u"select count(*) from rooms"_s).toInt() > 0);
        QCOMPARE(
            db.scalar(u"select count(*) from rooms where Items_ID not in (select id from items)"_s).toInt(),
            0);
        QCOMPARE(db.scalar(u"select count(*) from rooms where P <= 0 or RoomName = ''"_s).toInt(), 0);
        // Rooms never add up to more than the flat.
        QCOMPARE(
            db.scalar(u"select count(*) from items i where (select sum(p) from rooms where items_id = i.id) "
                      u"> i.obsh_plosh"_s)
                .toInt(),
            0);

        QCOMPARE(
            db.scalar(
                  u"select count(*) from items i where (select count(*) from slides where parent_id = i.id) "
                  u"not between 1 and 3"_s)
                .toInt(),
            0);
        // Every format the program shows, some extensions in capitals; photographs come first.
        QCOMPARE(db.scalar(u"select count(distinct lower(ext)) from slides"_s).toInt(), 6);
        QVERIFY(db.scalar(u"select count(*) from slides where ext in ('.JPG', '.BMP', '.EMF', '.WMF')"_s)
                    .toInt() > 0);
        QCOMPARE(
            db.scalar(
                  u"select count(*) from items i where (select lower(ext) from slides where parent_id = i.id "
                  u"order by id limit 1) not in ('.jpg', '.jpeg')"_s)
                .toInt(),
            0);
        QVERIFY(db.scalar(u"select count(*) from slides where notes = 'Вид с улицы'"_s).toInt() > 0);
        QVERIFY(db.scalar(u"select count(distinct picture) from slides"_s).toInt() > 3);
        AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR));
        for (const QVariantList& row : db.rows(u"select distinct ext, picture, notes from slides"_s)) {
            const QString ext = row.value(0).toString();
            const PictureResult r = PictureLoader::load(row.value(1).toByteArray(), ext, QSize());
            QVERIFY2(r.ok() && !r.incomplete, qPrintable(ext + u": "_s + r.failure));
            if (PictureLoader::formatOf(ext) == PictureFormat::Jpeg)
                QCOMPARE(r.image.size(),
                         row.value(2).toString().contains(u"телефон"_s) ? QSize(450, 600) : QSize(800, 600));
        }
    }

    void demoWithoutPhotosIsRepeatable() {
        const QString first = m_dir.filePath(u"one.MyDB"_s);
        const QString second = m_dir.filePath(u"two.MyDB"_s);
        QCOMPARE(tool({u"demo"_s, first, u"--no-photos"_s, u"--items"_s, u"25"_s}).code, 0);
        QCOMPARE(tool({u"demo"_s, second, u"--items"_s, u"25"_s, u"--no-photos"_s}).code, 0);
        Reader a(first);
        Reader b(second);
        QCOMPARE(a.scalar(u"select count(*) from slides"_s).toInt(), 0);
        QCOMPARE(a.scalar(u"select count(*) from items"_s).toInt(), 25);
        const QString items = u"select * from items order by id"_s;
        const QString rooms = u"select * from rooms order by id"_s;
        QCOMPARE(a.rows(items), b.rows(items));
        QCOMPARE(a.rows(rooms), b.rows(rooms));
        // Not every item is alike.
        QVERIFY(a.scalar(u"select count(distinct stoim) from items"_s).toInt() > 10);
    }

    void demoWithNoItemsHasDirectoriesOnly() {
        const QString path = m_dir.filePath(u"zero.MyDB"_s);
        QCOMPARE(tool({u"demo"_s, path, u"--items"_s, u"0"_s}).code, 0);
        Reader db(path);
        QCOMPARE(db.scalar(u"select count(*) from items"_s).toInt(), 0);
        QVERIFY(db.scalar(u"select count(*) from rajony"_s).toInt() > 0);
    }

    // The disk fills up while the demo is written: the half-written file and its journal go.
    void failureAfterTheFileIsMadeLeavesNoFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"full.MyDB"_s);
        QProcess p;
        p.setChildProcessModifier([] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{256 * 1024, 256 * 1024}; // room for the schema, not for the photographs
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        p.start(QString::fromUtf8(TENEMARK_DB_TOOL), {u"demo"_s, path, u"--items"_s, u"50"_s});
        QVERIFY(p.waitForFinished(120000));
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.startsWith(u"tenemark-db: "_s), qPrintable(err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void unwritablePlaceLeavesNoFile() {
        // A folder on the way is a plain file: no folder can be made there, not even by root.
        QFile plain(m_dir.filePath(u"plain"_s));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString path = m_dir.filePath(u"plain/folder/x.MyDB"_s);
        const Run r = tool({u"create"_s, path});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.startsWith(u"tenemark-db: "_s) && r.err.size() > 14, qPrintable(r.err));
        QVERIFY(!QFile::exists(path));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestTenemarkDb)
#include "tst_tenemark_db.moc"
