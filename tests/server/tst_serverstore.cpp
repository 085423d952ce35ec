// The store's own behaviour on a PostgreSQL server: settings, logging in, the tables it makes, the
// texts of its failures and what it allows a user without rights.
#include "AppError.h"
#include "AppPaths.h"
#include "Database.h"
#include "IniFile.h"
#include "ItemStore.h"
#include "PasswordStore.h"
#include "Statements.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString RoleSecret = u"таб\tи\nстрока"_s;

TestServer& server() {
    TestServer* s = TestServer::instance();
    if (!s)
        qFatal("no test server: %s", qPrintable(TestServer::unavailableReason()));
    return *s;
}

// Writes `text` as kvarta.ini in `dir` and reads its [Database] section.
StoreSettings settingsFrom(const QTemporaryDir& dir, const QByteArray& text) {
    const QString path = dir.filePath(u"kvarta.ini"_s);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write kvarta.ini");
    f.write(text);
    f.close();
    return StoreSettings::read(IniFile(path));
}

} // namespace

class TestServerStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { Database::close(); }

    void settingsFromKvartaIni() {
        QTemporaryDir dir;
        QVERIFY(!settingsFrom(dir, "[MainForm]\r\nLeft=10\r\n").isServer());
        QVERIFY(!settingsFrom(dir, "[Database]\r\nDriver=QSQLITE\r\nHost=ignored\r\n").isServer());
        const StoreSettings s = settingsFrom(dir, "[database]\r\ndriver=qpsql\r\nHost= db.agency.local "
                                                  "\r\nPort=5433\r\nName=tenemark\r\nUser=agent\r\n");
        QVERIFY(s.isServer());
        QCOMPARE(s.host, u"db.agency.local"_s);
        QCOMPARE(s.port, 5433);
        QCOMPARE(s.name, u"tenemark"_s);
        QCOMPARE(s.user, u"agent"_s);
        QCOMPARE(s.describe(), u"agent@db.agency.local:5433/tenemark"_s);
        QCOMPARE(s.connectionString(), u"host='db.agency.local' port=5433 dbname='tenemark' user='agent'"_s);
        // Empty keys are left to libpq.
        const StoreSettings bare = settingsFrom(dir, "[Database]\r\nDriver=QPSQL\r\n");
        QCOMPARE(bare.connectionString(), QString());
        QCOMPARE(bare.port, 0);

        QCOMPARE(failureText([&] { settingsFrom(dir, "[Database]\r\nDriver=QMYSQL\r\n"); }),
                 u"Неизвестный драйвер базы данных «QMYSQL» в разделе [Database] файла kvarta.ini: допустимы "
                 u"QSQLITE и QPSQL"_s);
        QCOMPARE(failureText([&] { settingsFrom(dir, "[Database]\r\nDriver=QPSQL\r\nPort=54x\r\n"); }),
                 u"Порт сервера базы данных «54x» в файле kvarta.ini не является числом от 1 до 65535"_s);

        // Written back: the password never is, and other sections stay.
        IniFile ini(dir.filePath(u"kvarta.ini"_s));
        s.write(ini);
        ini.save();
        QCOMPARE(settingsFrom(dir,
                              [&] {
                                  QFile f(dir.filePath(u"kvarta.ini"_s));
                                  f.open(QIODevice::ReadOnly);
                                  return f.readAll();
                              }())
                     .connectionString(),
                 s.connectionString());
    }

    void connectionStrings() {
        const StoreSettings s = StoreSettings::fromConnectionString(
            u"host=srv port=5432 dbname='Агентство 1' user=o\\'neil sslmode=require options='-c search_path=a'"_s);
        QCOMPARE(s.name, u"Агентство 1"_s);
        QCOMPARE(s.user, u"o'neil"_s);
        QCOMPARE(s.options, u"sslmode='require'"_s);
        QCOMPARE(s.serverOptions, u"-c search_path=a"_s);
        // The string it gives reads back as the same settings.
        const StoreSettings again = StoreSettings::fromConnectionString(s.connectionString());
        QCOMPARE(again.connectionString(), s.connectionString());
        QCOMPARE(again.user, u"o'neil"_s);

        QVERIFY(failureText([] {
                    StoreSettings::fromConnectionString(u"host=srv nonsense"_s);
                }).startsWith(u"Строка подключения «host=srv nonsense» не разобрана: "_s));
        QVERIFY(failureText([] {
                    StoreSettings::fromConnectionString(u"host=srv password=x"_s);
                }).startsWith(u"Пароль в строке подключения не принимается"_s));
        // Not even a part of it when the string does not parse.
        QVERIFY(failureText([] {
                    StoreSettings::fromConnectionString(u"host=srv password=se cret"_s);
                }).startsWith(u"Пароль в строке подключения не принимается"_s));
    }

    // Values of connection options: a ';' is refused before anything connects, naming the key (Qt's
    // driver would cut the value there); blanks, tabs and line breaks reach libpq and the driver
    // whole, and no message shows the password.
    void connectionValues_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("failure"); // the start of the message; empty: the login went through
        const QString semicolon = u"Значение параметра подключения «%1» не может содержать «;»"_s;
        QTest::newRow("application_name")
            << u"application_name"_s << u"x;port=1"_s << semicolon.arg(u"application_name"_s);
        QTest::newRow("options") << u"options"_s << u"-c search_path=a;b"_s << semicolon.arg(u"options"_s);
        QTest::newRow("service") << u"service"_s << u"a;b"_s << semicolon.arg(u"service"_s);
        QTest::newRow("service with a blank") << u"service"_s << u"tenemark test"_s << QString();
        QTest::newRow("password with a tab and a line break") << u"password"_s << RoleSecret << QString();
        QTest::newRow("wrong password with a tab")
            << u"password"_s << u"x7q\tz9w"_s << u"Не удалось подключиться к серверу базы данных"_s;
    }

    void connectionValues() {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, failure);
        StoreSettings s = server().settings();
        QString password;
        QTemporaryDir dir;
        const QString user = QString::fromUtf16(TestServer::PasswordUser);
        const auto setPassword = [&](const QString& secret) {
            return server().exec(u"postgres"_s, u"alter role %1 password '%2'"_s.arg(user, secret));
        };
        const auto restore = qScopeGuard([&] {
            qunsetenv("PGSERVICEFILE");
            setPassword(QString::fromUtf16(TestServer::PasswordUserPassword));
        });
        if (key == u"application_name") {
            s = StoreSettings::fromConnectionString(s.connectionString() +
                                                    u" application_name='%1'"_s.arg(value));
        } else if (key == u"options") {
            s.serverOptions = value;
        } else if (key == u"service") {
            QFile file(dir.filePath(u"pg_service.conf"_s));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(u"[%1]\nhost=%2\nport=%3\ndbname=postgres\nuser=%4\n"_s.arg(value, s.host)
                           .arg(s.port)
                           .arg(s.user)
                           .toUtf8());
            file.close();
            qputenv("PGSERVICEFILE", QFile::encodeName(file.fileName()));
            s = StoreSettings();
            s.driver = StoreSettings::Driver::Server;
            s.service = value;
        } else {
            QCOMPARE(setPassword(RoleSecret), QString());
            s.user = user;
            password = value;
        }
        const QString text = failureText([&] {
            Database::addServerConnection(u"values"_s, s, password);
            QSqlDatabase::removeDatabase(u"values"_s);
        });
        if (failure.isEmpty()) {
            QCOMPARE(text, u"(no failure)"_s);
            return;
        }
        QVERIFY2(text.startsWith(failure), qPrintable(text));
        for (const QString& part : password.split(QRegularExpression(u"\\s"_s), Qt::SkipEmptyParts))
            QVERIFY2(!text.contains(part), qPrintable(text));
    }

    // kvarta.ini names a service of the service file: libpq takes host, database and session
    // options from there.
    void openedFromKvartaIniThroughAService() {
        TempCatalogue catalogue(false);
        catalogue.writeDatabaseSection();
        const StoreSettings settings =
            StoreSettings::read(IniFile(catalogue.path(QString::fromUtf16(AppPaths::SettingsFile))));
        QCOMPARE(settings.connectionString(), u"service='tenemark_test'"_s);
        QCOMPARE(Database::openStore(settings, catalogue.databasePath()), Database::ServerLogin::Opened);
        QVERIFY(Database::isServer());
        QCOMPARE(Database::writeAccess(), Database::WriteAccess::Writable);
        StoreQuery query;
        ItemStore::NewItem item;
        item.dateReg = QDateTime(QDate(2024, 1, 1), QTime(9, 0));
        ItemStore::insertItem(query, item);
        QCOMPARE(catalogue.scalar(u"select count(*) from items"_s).toInt(), 1);
        qunsetenv("PGSERVICEFILE");
    }

    void unreachableServerGivesTheServersText() {
        StoreSettings s = server().settings();
        s.port = 1; // nothing listens there
        const QString text = failureText([&] { Database::openServer(s); });
        QVERIFY2(text.startsWith(
                     u"Не удалось подключиться к серверу базы данных tenemark@127.0.0.1:1/postgres: "_s),
                 qPrintable(text));
        QVERIFY2(text.contains(u"Connection refused"_s), qPrintable(text));
        QVERIFY(!Database::isOpen());

        s = server().settings(u"no_such_database"_s);
        const QString missing = failureText([&] { Database::openServer(s); });
        QVERIFY2(missing.contains(u"database \"no_such_database\" does not exist"_s), qPrintable(missing));
    }

    void passwordOnlyWhenTheServerAsks() {
        TempCatalogue catalogue(false);
        StoreSettings s = catalogue.settings();
        s.user = QString::fromUtf16(TestServer::PasswordUser);
        QTemporaryDir home;
        const QString passFile = home.filePath(u"pgpass"_s);
        qputenv("PGPASSFILE", QFile::encodeName(passFile));

        QCOMPARE(Database::openServer(s), Database::ServerLogin::PasswordNeeded);
        QVERIFY(!Database::isOpen());
        const QString wrong = failureText([&] { Database::openServer(s, u"не тот"_s); });
        QVERIFY2(wrong.contains(u"password authentication failed for user \"tenemark_pw\""_s),
                 qPrintable(wrong));
        QCOMPARE(Database::openServer(s, QString::fromUtf16(TestServer::PasswordUserPassword)),
                 Database::ServerLogin::Opened);
        QVERIFY(Database::isServer());
        Database::close();

        // libpq finds it in the password file itself: no question.
        QFile pass(passFile);
        QVERIFY(pass.open(QIODevice::WriteOnly));
        pass.write(u"127.0.0.1:%1:*:%2:%3\n"_s.arg(s.port)
                       .arg(QString::fromUtf16(TestServer::PasswordUser),
                            QString::fromUtf16(TestServer::PasswordUserPassword))
                       .toUtf8());
        pass.close();
        pass.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(Database::openServer(s), Database::ServerLogin::Opened);
        StoreQuery query;
        QCOMPARE(PasswordStore::readPassword(query), QString());
        qunsetenv("PGPASSFILE");
    }

    void aDatabaseWithoutTheCatalogue() {
        const QString name = server().createDatabase();
        const StoreSettings s = server().settings(name);
        const QString text = failureText([&] { Database::openServer(s); });
        QCOMPARE(text,
                 u"В базе данных tenemark@127.0.0.1:%1/%2 нет таблиц каталога: создайте их командой "
                 u"«tenemark-db create --server \"host='127.0.0.1' port=%1 dbname='%2' user='tenemark'\"»"_s
                     .arg(s.port)
                     .arg(name));
        QVERIFY(!Database::isOpen());
    }

    void schemaOnTheServer() {
        TempCatalogue catalogue;
        const auto column = [&](const QString& table, const QString& name) {
            return catalogue
                .scalar(u"select data_type || coalesce('(' || numeric_precision || ',' || numeric_scale || "
                        u"')', '') "
                        u"|| coalesce(' ' || collation_name, '') from information_schema.columns "
                        u"where table_schema = current_schema() and table_name = ? and column_name = ?"_s,
                        {table, name})
                .toString();
        };
        QCOMPARE(column(u"items"_s, u"id"_s), u"integer(32,0)"_s);
        QCOMPARE(column(u"items"_s, u"date_reg"_s), u"timestamp without time zone"_s);
        QCOMPARE(column(u"items"_s, u"stoim"_s), u"numeric(19,4)"_s);
        QCOMPARE(column(u"items"_s, u"dolg"_s), u"numeric(19,4)"_s);
        QCOMPARE(column(u"items"_s, u"obsh_plosh"_s), u"double precision"_s);
        QCOMPARE(column(u"items"_s, u"grupa"_s), u"text C"_s);
        QCOMPARE(column(u"slides"_s, u"picture"_s), u"bytea"_s);
        QCOMPARE(column(u"rooms"_s, u"roomname"_s), u"text C"_s);
        QCOMPARE(column(u"komnaty"_s, u"naimen"_s), u"text C"_s);
        QCOMPARE(Database::catalogueTablesIn(Database::connection()).size(),
                 Statements::catalogueTables().size());

        // Laid down once only.
        const QString again = failureText([] { Database::createSchema(Database::connection()); });
        QVERIFY2(again.startsWith(u"В базе данных уже есть таблицы каталога (items, "_s), qPrintable(again));
    }

    void onlyAUtf8DatabaseTakesTheCatalogue() {
        const QString name = u"latin"_s;
        QCOMPARE(server().exec(u"postgres"_s, u"create database latin template template0 encoding 'LATIN1' "
                                              u"locale 'C'"_s),
                 QString());
        const QString connection = u"latin"_s;
        const QString text = failureText([&] {
            Database::createSchema(Database::addServerConnection(connection, server().settings(name)));
        });
        QSqlDatabase::removeDatabase(connection);
        QCOMPARE(text, u"База данных на сервере хранит текст в кодировке LATIN1; каталогу нужна UTF8 "
                       u"(createdb -E UTF8 -T template0 ...)"_s);
        QCOMPARE(server().scalar(name, u"select count(*) from information_schema.tables where "
                                       u"table_schema = 'public'"_s),
                 u"0"_s);
    }

    void readOnlyUsersAndSessions() {
        TempCatalogue catalogue;
        QCOMPARE(Database::writeAccess(), Database::WriteAccess::Writable);
        catalogue.addItem({{u"grupa"_s, u"Обмен"_s}});

        // A session that may only read: told at once, and a change is refused with a plain text.
        Database::openServer(catalogue.settings(), QString(), Database::Access::ReadOnly);
        QCOMPARE(Database::writeAccess(), Database::WriteAccess::ReadOnlyConnection);
        StoreQuery query;
        QCOMPARE(ItemStore::readSnapshot(query, 1).value(u"grupa"_s).toString(), u"Обмен"_s);
        QCOMPARE(failureText([&] { ItemStore::deleteItem(query, 1); }),
                 u"База данных на сервере открыта только для чтения: изменения не сохранены (cannot execute "
                 u"DELETE in a read-only transaction)"_s);

        // A user with the right to read only.
        const QString schema = catalogue.settings().serverOptions.section(u'=', 1);
        QCOMPARE(server().exec(catalogue.settings().name,
                               u"create role reader login; grant usage on schema %1 to reader; "
                               u"grant select on all tables in schema %1 to reader"_s.arg(schema)),
                 QString());
        StoreSettings reader = catalogue.settings();
        reader.user = u"reader"_s;
        Database::openServer(reader);
        QCOMPARE(Database::writeAccess(), Database::WriteAccess::ReadOnlyConnection);
        StoreQuery readerQuery;
        QCOMPARE(
            failureText([&] { PasswordStore::setPassword(readerQuery, u"x"_s); }),
            u"Недостаточно прав на сервере базы данных: действие не выполнено (permission denied for table "
            u"pwl_cell)"_s);
    }

    void serverFailureTexts_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("expected");
        QTest::newRow("disk full") << u"53100"_s
                                   << u"На сервере базы данных недостаточно места на диске: изменения не "
                                      u"сохранены (x)"_s;
        QTest::newRow("lock timeout")
            << u"55P03"_s
            << u"База данных слишком долго занята другой копией программы: действие "
               u"не выполнено (x)"_s;
        QTest::newRow("connection") << u"08006"_s
                                    << u"Связь с сервером базы данных прервана: действие не выполнено (x)"_s;
        QTest::newRow("shutdown") << u"57P01"_s
                                  << u"Связь с сервером базы данных прервана: действие не выполнено (x)"_s;
        QTest::newRow("anything else") << u"23505"_s << u"x"_s;
    }

    void serverFailureTexts() {
        QFETCH(QString, state);
        QFETCH(QString, expected);
        QCOMPARE(Database::serverErrorText(state, u"x"_s), expected);
    }

    // A lock that another copy keeps too long ends the statement with a plain text.
    void lockHeldTooLong() {
        TempCatalogue catalogue;
        const int id = catalogue.addItem({{u"etazh"_s, 1}});
        const QString other = u"other"_s;
        {
            QSqlDatabase db = Database::addServerConnection(other, catalogue.settings());
            QSqlQuery hold(db);
            QVERIFY(hold.exec(u"begin"_s));
            QVERIFY(hold.exec(u"select * from items for update"_s));
            StoreQuery query;
            // The save waits in slices of the session's short lock timeout, then gives up.
            Database::setWaitLimits(-1, 300);
            const ItemStore::ItemSnapshot loaded = ItemStore::readSnapshot(query, id);
            const QHash<QString, QString> fields = {{u"etazh"_s, u"2"_s},
                                                    {u"etazhnost"_s, u"0"_s},
                                                    {u"obsh_plosh"_s, u"0"_s},
                                                    {u"stoim"_s, u"0"_s},
                                                    {u"dolg"_s, u"0"_s}};
            const QString text =
                failureText([&] { ItemStore::updateItemIfUnchanged(query, id, loaded, fields, {}); });
            QVERIFY2(text.startsWith(u"База данных слишком долго занята другой копией программы: действие не "
                                     u"выполнено (canceling statement due to lock timeout"_s),
                     qPrintable(text));
            QVERIFY(hold.exec(u"rollback"_s));
            // The failed save left no transaction open.
            Database::setWaitLimits(-1, -1);
            const auto saved = ItemStore::updateItemIfUnchanged(query, id, loaded, fields, {});
            QCOMPARE(int(saved.outcome), int(ItemStore::SaveOutcome::Saved));
        }
        QSqlDatabase::removeDatabase(other);
        QCOMPARE(catalogue.scalar(u"select etazh from items"_s).toInt(), 2);
    }
};

QTEST_GUILESS_MAIN(TestServerStore)
#include "tst_serverstore.moc"
