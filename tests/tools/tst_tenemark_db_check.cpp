#include "AppPaths.h"
#include "PictureLoader.h"
#include "Schema.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int code = -1;
    QStringList out; // lines
    QString err;
};

// `runAs`: a command that runs the tool as another user.
Run tool(const QStringList& args, const QStringList& runAs = {}) {
    QProcess p;
    const QStringList command = runAs + QStringList{QString::fromUtf8(TENEMARK_DB_TOOL)} + args;
    p.start(command.first(), command.mid(1));
    Run r;
    if (!p.waitForFinished(120000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// The test's own connection on a file the tool wrote.
class Connection {
public:
    explicit Connection(const QString& path) {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, Name);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot open %s", qPrintable(path));
    }
    ~Connection() {
        { QSqlDatabase::database(Name).close(); }
        QSqlDatabase::removeDatabase(Name);
    }
    QSqlQuery exec(const QString& sql, const QVariantList& values = {}) const {
        QSqlQuery q(QSqlDatabase::database(Name));
        q.prepare(sql);
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, values[i]);
        if (!q.exec())
            qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return q;
    }
    qlonglong scalar(const QString& sql) const {
        QSqlQuery q = exec(sql);
        return q.next() ? q.value(0).toLongLong() : -1;
    }

private:
    static inline const QString Name = u"check-test"_s;
};

QByteArray fileContent(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The count lines the tool prints for a file, in its order.
QStringList countLines(const QString& path) {
    QStringList tables = {u"items"_s, u"slides"_s, u"rooms"_s, u"pwl_cell"_s};
    for (const DirectoryTable& t : DirectoryTables)
        tables << QString::fromLatin1(t.table);
    Connection db(path);
    QStringList lines;
    for (const QString& t : tables)
        lines << u"%1: %2"_s.arg(t).arg(db.scalar(u"select count(*) from "_s + t));
    return lines;
}

} // namespace

class TestTenemarkDbCheck : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_demo = m_dir.filePath(u"demo.MyDB"_s);
        QCOMPARE(tool({u"demo"_s, m_demo, u"--items"_s, u"12"_s}).code, 0);
        AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR));
    }

    void goodFilePrintsItsCounts() {
        const QByteArray before = fileContent(m_demo);
        const Run r = tool({u"check"_s, m_demo});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        const qlonglong slides = Connection(m_demo).scalar(u"select count(*) from slides"_s);
        QStringList expected = {m_demo, u"integrity: ok"_s};
        expected << countLines(m_demo);
        expected << u"pictures decoded: %1"_s.arg(slides) << u"result: ok"_s;
        QCOMPARE(r.out, expected);
        QCOMPARE(r.out.at(2), u"items: 12"_s);
        // Checking only reads.
        QCOMPARE(fileContent(m_demo), before);
    }

    void metafilesWithoutHelpersAreLeftUnchecked() {
        QTemporaryDir noHelpers;
        const Run r = tool({u"check"_s, m_demo, u"--helpers"_s, noHelpers.path()});
        QCOMPARE(r.code, 0);
        Connection db(m_demo);
        const qlonglong all = db.scalar(u"select count(*) from slides"_s);
        const qlonglong metafiles =
            db.scalar(u"select count(*) from slides where lower(ext) in ('.wmf', '.emf')"_s);
        QVERIFY(metafiles > 0);
        QVERIFY(r.out.contains(u"pictures decoded: %1"_s.arg(all - metafiles)));
        QVERIFY(r.out.contains(
            u"metafiles not checked (no helper programs in %1): %2"_s.arg(noHelpers.path()).arg(metafiles)));
        QCOMPARE(r.out.last(), u"result: ok"_s);
    }

    void damagedSlidesAreNamed() {
        const QString path = m_dir.filePath(u"slides.MyDB"_s);
        QVERIFY(QFile::copy(m_demo, path));
        QByteArray jpeg;
        qlonglong jpegId = 0;
        qlonglong jpegItem = 0;
        {
            Connection db(path);
            QSqlQuery q = db.exec(u"select id, parent_id, picture from slides where lower(ext) = '.jpg' "
                                  u"order by id limit 1"_s);
            QVERIFY(q.next());
            jpegId = q.value(0).toLongLong();
            jpegItem = q.value(1).toLongLong();
            jpeg = q.value(2).toByteArray();
            q.finish();
            // Half of a photograph, and bytes that are no picture at all under a picture's name.
            db.exec(u"update slides set picture = ? where id = ?"_s, {jpeg.left(jpeg.size() / 2), jpegId});
            db.exec(u"insert into slides (parent_id, ext, picture) values (?, '.bmp', ?)"_s,
                    {jpegItem, QByteArray(500, 'z')});
        }
        const qlonglong bmpId = Connection(path).scalar(u"select max(id) from slides"_s);
        const PictureResult bmp = PictureLoader::load(QByteArray(500, 'z'), u".bmp"_s, QSize(160, 120));
        QVERIFY(!bmp.ok());
        const PictureResult half =
            PictureLoader::load(jpeg.left(jpeg.size() / 2), u".jpg"_s, QSize(160, 120));
        const QString halfText = half.ok() ? u"the picture is incomplete"_s : half.failure;

        const Run r = tool({u"check"_s, path});
        QCOMPARE(r.code, 1);
        const QStringList problems = r.out.filter(QRegularExpression(u"^problem: "_s));
        QCOMPARE(
            problems,
            (QStringList{
                u"problem: slide %1 (item %2, \".jpg\"): %3"_s.arg(jpegId).arg(jpegItem).arg(halfText),
                u"problem: slide %1 (item %2, \".bmp\"): %3"_s.arg(bmpId).arg(jpegItem).arg(bmp.failure)}));
        QCOMPARE(r.out.last(), u"result: 2 problem(s)"_s);
        QVERIFY(r.out.contains(u"integrity: ok"_s));
    }

    void damagedFileGivesTheReason() {
        const QString path = m_dir.filePath(u"broken.MyDB"_s);
        QVERIFY(QFile::copy(m_demo, path));
        qlonglong root = 0;
        qlonglong pageSize = 0;
        {
            Connection db(path);
            root = db.scalar(u"select rootpage from sqlite_master where name = 'rooms'"_s);
            pageSize = db.scalar(u"pragma page_size"_s);
        }
        // The rooms table's first page gets a page type that does not exist.
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek((root - 1) * pageSize));
            f.write(QByteArray(1, '\x07'));
        }
        const Run r = tool({u"check"_s, path});
        QCOMPARE(r.code, 1);
        const QStringList problems = r.out.filter(QRegularExpression(u"^problem: "_s));
        QCOMPARE(problems.size(), 2);
        QCOMPARE(problems.at(0), u"problem: integrity: *** in database main ***"_s);
        QVERIFY2(problems.at(1).startsWith(u"problem: integrity: Page %1: "_s.arg(root)),
                 qPrintable(problems.at(1)));
        QCOMPARE(r.out.last(), u"result: 2 problem(s)"_s);
        // The other tables are still counted.
        QVERIFY(r.out.contains(u"items: 12"_s));
    }

    void fileThatIsNoCatalogue() {
        const QString junk = m_dir.filePath(u"junk.MyDB"_s);
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'j'));
        f.close();
        Run r = tool({u"check"_s, junk});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.out, (QStringList{u"problem: file is not a database"_s, u"result: 1 problem(s)"_s}));

        const QString missingTable = m_dir.filePath(u"notable.MyDB"_s);
        QVERIFY(QFile::copy(m_demo, missingTable));
        Connection(missingTable).exec(u"drop table voda"_s);
        r = tool({u"check"_s, missingTable});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.out.filter(QRegularExpression(u"^problem: "_s)),
                 QStringList{u"problem: voda: no such table: voda"_s});

        const QString missing = m_dir.filePath(u"nosuch.MyDB"_s);
        r = tool({u"check"_s, missing});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err, u"tenemark-db: %1: no such file\n"_s.arg(missing));
        QVERIFY(!QFile::exists(missing));
        QCOMPARE(tool({u"check"_s, m_demo, u"--helpers"_s}).code, 2);
    }

    // A write cut short by a crash leaves a journal beside an intact catalogue: the check plays it
    // back where the file may be written, else checks a played-back copy; neither is a problem.
    void interruptedWrite_data() {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("journal");
        QTest::newRow("writable folder") << true << u"journal: an interrupted write was rolled back"_s;
        QTest::newRow("read-only folder") << false
                                          << u"journal: needs recovery at the next start (the file cannot be "
                                             u"written here; a recovered copy was checked)"_s;
    }

    void interruptedWrite() {
        QFETCH(bool, writable);
        QFETCH(QString, journal);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"db.MyDB"_s);
        QVERIFY(QFile::copy(m_demo, path));
        // SQLite's shell changes more pages in one transaction than its cache holds, so that some
        // reach the file, and is killed before it commits.
        QProcess writer;
        writer.start(u"sqlite3"_s, {path});
        writer.write("pragma cache_size=2;\nbegin;\nupdate slides set picture = zeroblob(length(picture));\n"
                     "delete from items;\nselect 'written';\n");
        QVERIFY(writer.waitForReadyRead(60000));
        QCOMPARE(writer.readAllStandardOutput(), QByteArray("written\n"));
        writer.kill();
        QVERIFY(writer.waitForFinished());
        QVERIFY(QFile::exists(path + u"-journal"_s));
        const QByteArray before = fileContent(path);

        QStringList runAs;
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        if (!writable) {
            const auto readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
            QVERIFY(QFile::setPermissions(path, readable));
            QVERIFY(QFile::setPermissions(path + u"-journal"_s, readable));
            QVERIFY(QFile::setPermissions(dir.path(),
                                          readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
            // Permission bits do not bind the superuser: the tool runs as "nobody" then.
            if (::geteuid() == 0)
                runAs = QStringList{u"setpriv"_s, u"--reuid=nobody"_s, u"--regid=nogroup"_s,
                                    u"--clear-groups"_s, u"--"_s};
        }
        const Run r = tool({u"check"_s, path}, runAs);
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.mid(0, 3), (QStringList{path, journal, u"integrity: ok"_s}));
        QVERIFY(r.out.contains(u"items: 12"_s));
        QCOMPARE(r.out.last(), u"result: ok"_s); // every photograph decodes: none is left zeroed
        QCOMPARE(QFile::exists(path + u"-journal"_s), !writable);
        if (!writable)
            QCOMPARE(fileContent(path), before);
    }

private:
    QTemporaryDir m_dir;
    QString m_demo;
};

QTEST_GUILESS_MAIN(TestTenemarkDbCheck)
#include "tst_tenemark_db_check.moc"
