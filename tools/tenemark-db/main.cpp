// tenemark-db: makes catalogue files for the program, empty or with demonstration data, checks
// existing ones, lays the tables down on a PostgreSQL server and copies a catalogue between a file
// and a server.

#include "AppError.h"
#include "AppPaths.h"
#include "CatalogueCopy.h"
#include "Database.h"
#include "DemoCatalogue.h"
#include "JetImport.h"
#include "NewFile.h"
#include "PictureLoader.h"
#include "Schema.h"
#include "metafile/MetafileProtocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr int MaxItems = 10'000'000;

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

// The usage on `stream`: stdout when it was asked for, stderr after a mistake.
void usage(std::FILE* stream) {
    print(stream,
          u"Usage:\n"
          u"  tenemark-db create PATH\n"
          u"      write an empty catalogue with every table\n"
          u"  tenemark-db create --server CONNINFO\n"
          u"      make every table of the catalogue in an existing, empty PostgreSQL database;\n"
          u"      CONNINFO is a libpq connection string, as \"host=srv dbname=tenemark user=agent\"\n"
          u"  tenemark-db copy FROM TO\n"
          u"      copy a whole catalogue, FROM and TO each a catalogue file PATH or --server CONNINFO;\n"
          u"      a file TO must not exist, a server TO must hold no rows (its tables are made when\n"
          u"      missing); row counts and picture bytes are compared before the copy is kept, and\n"
          u"      values the server cannot hold as they are (a registration date that is no date)\n"
          u"      are listed and stored as empty\n"
          u"  tenemark-db import OLD NEW\n"
          u"      convert a catalogue kept in the Jet 4 (Access) format OLD into a new catalogue file NEW\n"
          u"      (which must not exist); row counts and picture bytes are compared before NEW is kept,\n"
          u"      and values, tables and columns not kept as they were are listed\n"
          u"  tenemark-db demo PATH [--items N] [--no-photos]\n"
          u"      write a catalogue with directories and N items (default 200),\n"
          u"      their rooms and, unless --no-photos, one to three photographs each\n"
          u"  tenemark-db check PATH [--helpers DIR]\n"
          u"      check the file's integrity, count the rows of every table and decode every\n"
          u"      photograph (metafiles with the helper programs in DIR, by default the folder\n"
          u"      of tenemark-db); exits with 1 when something is wrong. A journal that an\n"
          u"      interrupted write left is played back when the file may be written, else\n"
          u"      reported as needing recovery at the next start\n"
          u"Neither create nor demo overwrites an existing file; check only reads, apart from\n"
          u"playing back a journal. The server's password comes from ~/.pgpass (or PGPASSFILE)\n"
          u"or PGPASSWORD, never from CONNINFO.\n"
          u"tenemark-db help (or --help, -h) shows this text."_s);
}

int mistake(const QString& problem) {
    if (!problem.isEmpty())
        print(stderr, u"tenemark-db: "_s + problem);
    usage(stderr);
    return 2;
}

struct Command {
    QString name;
    QString path;
    DemoOptions demo;
    QString helpers; // check: folder of the metafile helpers
    // create --server, copy
    CatalogueLocation from;
    CatalogueLocation to;
};

// A catalogue named at args[i]: a file path, or "--server CONNINFO" (which takes two arguments).
std::optional<CatalogueLocation> location(const QStringList& args, qsizetype* i, QString* problem) {
    if (*i >= args.size()) {
        *problem = u"no catalogue given"_s;
        return std::nullopt;
    }
    CatalogueLocation l;
    if (args[*i] == u"--server") {
        if (*i + 1 >= args.size()) {
            *problem = u"--server needs a connection string"_s;
            return std::nullopt;
        }
        try {
            l.server = StoreSettings::fromConnectionString(args[*i + 1]);
        } catch (const AppError& e) {
            *problem = e.text();
            return std::nullopt;
        }
        *i += 2;
        return l;
    }
    if (args[*i].startsWith(u"--")) {
        *problem = u"no file given"_s;
        return std::nullopt;
    }
    l.path = args[(*i)++];
    return l;
}

// Parses the arguments; on a mistake returns nothing and `problem` says why.
std::optional<Command> parse(const QStringList& args, QString* problem) {
    if (args.size() < 2) {
        *problem = args.isEmpty() ? QString() : u"no file given"_s;
        return std::nullopt;
    }
    Command c;
    c.name = args[0];
    if (c.name != u"create" && c.name != u"demo" && c.name != u"check" && c.name != u"copy" &&
        c.name != u"import") {
        *problem = u"unknown command \"%1\""_s.arg(c.name);
        return std::nullopt;
    }
    if (c.name == u"copy" || (c.name == u"create" && args[1] == u"--server")) {
        qsizetype i = 1;
        std::optional<CatalogueLocation> first = location(args, &i, problem);
        if (!first)
            return std::nullopt;
        if (c.name == u"copy") {
            std::optional<CatalogueLocation> second = location(args, &i, problem);
            if (!second)
                return std::nullopt;
            c.from = *first;
            c.to = *second;
        } else {
            c.to = *first;
        }
        if (i < args.size()) {
            *problem = u"unexpected argument \"%1\""_s.arg(args[i]);
            return std::nullopt;
        }
        return c;
    }
    if (c.name == u"import") {
        if (args.size() != 3) {
            *problem = u"import needs the Jet file and the new catalogue file"_s;
            return std::nullopt;
        }
        c.from.path = args[1];
        c.to.path = args[2];
        return c;
    }
    c.path = args[1];
    if (c.path.startsWith(u"--")) {
        *problem = u"no file given"_s;
        return std::nullopt;
    }
    for (qsizetype i = 2; i < args.size(); ++i) {
        const QString& a = args[i];
        if (c.name == u"check" && a == u"--helpers" && i + 1 < args.size()) {
            c.helpers = args[++i];
        } else if (c.name == u"demo" && a == u"--no-photos") {
            c.demo.photos = false;
        } else if (c.name == u"demo" && a == u"--items") {
            bool ok = false;
            const int n = i + 1 < args.size() ? args[i + 1].toInt(&ok) : 0;
            if (!ok || n < 0 || n > MaxItems) {
                *problem = u"--items needs a whole number from 0 to %1"_s.arg(MaxItems);
                return std::nullopt;
            }
            c.demo.items = n;
            ++i;
        } else {
            *problem = u"unexpected argument \"%1\""_s.arg(a);
            return std::nullopt;
        }
    }
    return c;
}

struct SqliteHandle {
    sqlite3* db = nullptr;
    ~SqliteHandle() { sqlite3_close_v2(db); }
};

// SQLite's result (extended) of reading the schema of `path` opened with `flags`.
int readSchema(const QString& path, int flags) {
    SqliteHandle h;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &h.db, flags, nullptr) != SQLITE_OK)
        return h.db ? sqlite3_extended_errcode(h.db) : SQLITE_NOMEM;
    sqlite3_extended_result_codes(h.db, 1);
    sqlite3_busy_timeout(h.db, 10'000);
    return sqlite3_exec(h.db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
}

// Integrity, row counts and photographs of an existing catalogue; 0 when all is well.
class Check {
public:
    explicit Check(const Command& c) : m_command(c) {}

    int run() {
        if (!QFileInfo(m_command.path).isFile()) {
            print(stderr, u"tenemark-db: %1: no such file"_s.arg(m_command.path));
            return 1;
        }
        if (!m_command.helpers.isEmpty())
            AppPaths::setRuntimeFolderOverride(m_command.helpers);
        try {
            Database::open(playBackJournal(), Database::Access::ReadOnly);
            print(stdout, m_command.path);
            if (!m_journal.isEmpty())
                print(stdout, m_journal);
            integrity();
            counts();
            slides();
        } catch (const AppError& e) {
            problem(e.text());
        }
        Database::close();
        if (m_problems == 0) {
            print(stdout, u"result: ok"_s);
            return 0;
        }
        print(stdout, u"result: %1 problem(s)"_s.arg(m_problems));
        return 1;
    }

private:
    // A journal that a write cut short (a crash, a power cut) left beside the file: the file is whole
    // once the journal has been played back, as the first connection that may write does. Played back
    // in the file when it may be written, else in a copy, so that the check sees what the program's
    // next start will. Returns the file to check; m_journal says what was done.
    QString playBackJournal() {
        const QString& path = m_command.path;
        if (readSchema(path, SQLITE_OPEN_READONLY) != SQLITE_READONLY_ROLLBACK)
            return path;
        if (readSchema(path, SQLITE_OPEN_READWRITE) == SQLITE_OK) {
            m_journal = u"journal: an interrupted write was rolled back"_s;
            return path;
        }
        m_copy = std::make_unique<QTemporaryDir>();
        const QString copy = m_copy->filePath(u"catalogue.MyDB"_s);
        const auto copied = [](const QString& from, const QString& to) {
            // A copy keeps the permissions: one of a read-only file could not be played back.
            return QFile::copy(from, to) && QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
        };
        if (!m_copy->isValid() || !copied(path, copy) ||
            !copied(path + u"-journal"_s, copy + u"-journal"_s) ||
            readSchema(copy, SQLITE_OPEN_READWRITE) != SQLITE_OK)
            throw AppError(u"the journal of an interrupted write could not be played back on a copy"_s);
        m_journal = u"journal: needs recovery at the next start (the file cannot be written here; "
                    u"a recovered copy was checked)"_s;
        return copy;
    }

    void problem(const QString& text) {
        ++m_problems;
        print(stdout, u"problem: "_s + text);
    }

    // Another copy writing meanwhile is waited for; the first row holds the file's read lock.
    QSqlQuery run(const QString& sql) {
        QSqlQuery q(Database::connection());
        q.setForwardOnly(true);
        Database::read([&] {
            if (!q.exec(sql))
                Database::fail(q.lastError(), Database::connection());
        });
        return q;
    }

    void integrity() {
        QSqlQuery q = run(u"pragma integrity_check"_s);
        QStringList lines;
        while (q.next())
            lines << q.value(0).toString().split(u'\n', Qt::SkipEmptyParts);
        if (lines == QStringList{u"ok"_s}) {
            print(stdout, u"integrity: ok"_s);
            return;
        }
        for (const QString& line : lines)
            problem(u"integrity: "_s + line);
    }

    void counts() {
        QStringList tables = {u"items"_s, u"slides"_s, u"rooms"_s, u"pwl_cell"_s};
        for (const DirectoryTable& t : DirectoryTables)
            tables << QString::fromLatin1(t.table);
        for (const QString& table : tables) {
            try {
                QSqlQuery q = run(u"select count(*) from "_s + table);
                print(stdout, u"%1: %2"_s.arg(table).arg(q.next() ? q.value(0).toLongLong() : 0));
            } catch (const AppError& e) {
                problem(u"%1: %2"_s.arg(table, e.text()));
            }
        }
    }

    void slides() {
        QSqlQuery q = run(u"select id, parent_id, ext, picture from slides order by id"_s);
        int decoded = 0;
        int unchecked = 0;
        while (q.next()) {
            const QString ext = q.value(2).toString();
            const QString where = u"slide %1 (item %2, \"%3\")"_s.arg(q.value(0).toLongLong())
                                      .arg(q.value(1).toLongLong())
                                      .arg(ext);
            if (!helperAvailable(ext)) {
                ++unchecked;
                continue;
            }
            const PictureResult r = PictureLoader::load(q.value(3).toByteArray(), ext, QSize(160, 120));
            if (!r.ok())
                problem(u"%1: %2"_s.arg(where, r.failure));
            else if (r.incomplete)
                problem(u"%1: the picture is incomplete"_s.arg(where));
            else
                ++decoded;
        }
        if (q.lastError().isValid())
            throw AppError(engineErrorText(q.lastError()));
        print(stdout, u"pictures decoded: %1"_s.arg(decoded));
        if (unchecked > 0)
            print(stdout,
                  u"metafiles not checked (no helper programs in %1): %2"_s
                      .arg(QDir::toNativeSeparators(QFileInfo(AppPaths::runtimeFile(u"x"_s)).absolutePath()))
                      .arg(unchecked));
    }

    static bool helperAvailable(const QString& ext) {
        const PictureFormat format = PictureLoader::formatOf(ext);
        if (format != PictureFormat::Wmf && format != PictureFormat::Emf)
            return true;
        const char* helper =
            format == PictureFormat::Wmf ? MetafileProtocol::WmfHelper : MetafileProtocol::EmfHelper;
        return QFileInfo(AppPaths::runtimeFile(QString::fromLatin1(helper))).isExecutable();
    }

    const Command& m_command;
    std::unique_ptr<QTemporaryDir> m_copy;
    QString m_journal; // what was done about a journal
    int m_problems = 0;
};

// Tables on a server's existing database.
int createOnServer(const Command& c) {
    const QString name = u"tenemark-create"_s;
    int result = 0;
    try {
        Database::createSchema(Database::addServerConnection(name, c.to.server));
        print(stdout, u"%1: empty catalogue"_s.arg(c.to.describe()));
    } catch (const AppError& e) {
        print(stderr, u"tenemark-db: "_s + e.text());
        result = 1;
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

// The end of a copy or a conversion: the pictures compared, each value not kept as it was, and
// the closing line.
void printOutcome(int pictures, const QStringList& notes, const QString& closing) {
    print(stdout, u"pictures compared: %1"_s.arg(pictures));
    for (const QString& note : notes)
        print(stdout, u"not kept as it was: "_s + note);
    print(stdout, notes.isEmpty()
                      ? closing
                      : closing + u", %1 value(s) not kept as they were (listed above)"_s.arg(notes.size()));
}

int copy(const Command& c) {
    try {
        const CopyReport report =
            copyCatalogue(c.from, c.to, [](const QString& line) { print(stdout, line); });
        printOutcome(report.pictures, report.notes,
                     u"%1 -> %2: copied"_s.arg(c.from.describe(), c.to.describe()));
        return 0;
    } catch (const AppError& e) {
        print(stderr, u"tenemark-db: "_s + e.text());
        print(stderr, u"tenemark-db: nothing was copied"_s);
        return 1;
    }
}

int import(const Command& c) {
    try {
        JetImport conversion(c.from.path, c.to.path);
        conversion.setTableDone([](const QString& line) { print(stdout, line); });
        const JetImportReport report = conversion.run();
        printOutcome(report.pictures, report.notes, u"%1 -> %2: converted"_s.arg(c.from.path, c.to.path));
        return 0;
    } catch (const AppError& e) {
        print(stderr, u"tenemark-db: "_s + e.text());
        print(stderr, u"tenemark-db: nothing was converted"_s);
        return 1;
    }
}

int run(const Command& c) {
    if (c.name == u"check")
        return Check(c).run();
    if (c.name == u"copy")
        return copy(c);
    if (c.name == u"import")
        return import(c);
    if (c.name == u"create" && c.to.isServer())
        return createOnServer(c);
    if (QFileInfo::exists(c.path)) {
        print(stderr, u"tenemark-db: %1 already exists; it is left as it is."_s.arg(c.path));
        return 1;
    }
    // The user's data folder is made at the program's first start; a catalogue may come first.
    QDir().mkpath(QFileInfo(c.path).absolutePath());
    try {
        NewFile file(c.path);
        Database::createSchema(c.path);
        if (c.name == u"demo") {
            Database::open(c.path);
            writeDemoCatalogue(c.demo);
            Database::close();
            print(stdout, u"%1: %2 items%3"_s.arg(c.path)
                              .arg(c.demo.items)
                              .arg(c.demo.photos ? u" with photographs"_s : QString()));
        } else {
            print(stdout, u"%1: empty catalogue"_s.arg(c.path));
        }
        file.keep();
        return 0;
    } catch (const AppError& e) {
        Database::close();
        print(stderr, u"tenemark-db: "_s + e.text());
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.value(0) == u"help" || args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        usage(stdout);
        return 0;
    }
    QString problem;
    const std::optional<Command> command = parse(args, &problem);
    if (!command)
        return mistake(problem);
    return run(*command);
}
