#include "AppError.h"
#include "Database.h"
#include "ItemStore.h"
#include "Statements.h"
#include "TestSupport.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString failureText(const std::function<void()>& action) {
    try {
        action();
    } catch (const AppError& e) {
        return e.text();
    }
    return u"(no failure)"_s;
}

} // namespace

class TestDatabase : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openRefusesAFileThatIsNoDatabase() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"db.MyDB"_s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        const QString text = failureText([&] { Database::open(path); });
        QVERIFY2(text.contains(u"file is not a database"_s), qPrintable(text));
        QVERIFY(!Database::isOpen());
        // The file is left as it was.
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(4096, 'x'));
    }

    void openAndCreate() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"db.MyDB"_s);
        Database::createSchema(path);
        QVERIFY(!Database::isOpen());
        Database::open(path);
        QVERIFY(Database::isOpen());
        Database::close();
        QVERIFY(!Database::isOpen());
        const QString text = failureText([&] { Database::createSchema(path); });
        QVERIFY2(text.contains(path), qPrintable(text));
    }

    void engineTextFromQueries() {
        TempCatalogue catalogue;
        StoreQuery query;
        QString text = failureText([&] {
            query.setText(u"select * from nosuch"_s);
            query.open();
        });
        QVERIFY2(text.contains(u"no such table: nosuch"_s), qPrintable(text));
        text = failureText([&] {
            query.setText(u"select nocolumn from items"_s);
            query.open();
        });
        QVERIFY2(text.contains(u"no such column: nocolumn"_s), qPrintable(text));
        // The query object is usable again after a failure.
        query.setText(Statements::itemById(1));
        query.open();
        QVERIFY(!query.next());
    }

    void identifiersAndKeywordsIgnoreCase() {
        TempCatalogue catalogue;
        const int id = catalogue.addItem({{u"grupa"_s, u"Обмен"_s}});
        catalogue.exec(u"insert into rooms (Items_ID, RoomName, P) values (?, 'Кухня', 8.5)"_s, {id});
        StoreQuery query;
        query.setText(Statements::roomAreaSum(id));
        query.open();
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toDouble(), 8.5);
        query.setText(Statements::itemList(QString(), u"grupa"_s, false));
        query.open();
        QVERIFY(query.next());
        QCOMPARE(query.value(u"ID"_s).toInt(), id);
        // No rooms: the sum is null.
        query.setText(Statements::roomAreaSum(id + 1));
        query.open();
        QVERIFY(query.next());
        QVERIFY(query.value(0).isNull());
    }

    void deleteItemRemovesItsDependants() {
        TempCatalogue catalogue;
        const int doomed = catalogue.addItem({{u"grupa"_s, u"Продажа"_s}});
        const int kept = catalogue.addItem({{u"grupa"_s, u"Обмен"_s}});
        for (int id : {doomed, kept}) {
            catalogue.exec(u"insert into rooms (Items_ID, RoomName, P) values (?, 'Кухня', 8)"_s, {id});
            catalogue.exec(u"insert into slides (parent_id, ext, picture) values (?, '.jpg', x'FFD8')"_s,
                           {id});
        }
        StoreQuery query;
        ItemStore::deleteItem(query, doomed);
        QCOMPARE(catalogue.scalar(u"select count(*) from items"_s).toInt(), 1);
        QCOMPARE(catalogue.scalar(u"select count(*) from rooms where Items_ID=?"_s, {doomed}).toInt(), 0);
        QCOMPARE(catalogue.scalar(u"select count(*) from slides where parent_id=?"_s, {doomed}).toInt(), 0);
        QCOMPARE(catalogue.scalar(u"select count(*) from rooms where Items_ID=?"_s, {kept}).toInt(), 1);
        QCOMPARE(catalogue.scalar(u"select count(*) from slides where parent_id=?"_s, {kept}).toInt(), 1);
        // An item with neither rooms nor slides goes as well.
        const int bare = catalogue.addItem({});
        ItemStore::deleteItem(query, bare);
        QCOMPARE(catalogue.scalar(u"select count(*) from items where id=?"_s, {bare}).toInt(), 0);
    }

    void deleteItemIsAllOrNothing() {
        TempCatalogue catalogue;
        const int id = catalogue.addItem({{u"grupa"_s, u"Продажа"_s}});
        catalogue.exec(u"insert into rooms (Items_ID, RoomName, P) values (?, 'Кухня', 8)"_s, {id});
        catalogue.exec(u"insert into slides (parent_id, ext, picture) values (?, '.jpg', x'FFD8')"_s, {id});
        catalogue.exec(
            u"create trigger keep_items before delete on items begin select raise(abort, 'item is locked'); end"_s);
        StoreQuery query;
        const QString text = failureText([&] { ItemStore::deleteItem(query, id); });
        QVERIFY2(text.contains(u"item is locked"_s), qPrintable(text));
        QCOMPARE(catalogue.scalar(u"select count(*) from items"_s).toInt(), 1);
        QCOMPARE(catalogue.scalar(u"select count(*) from rooms where Items_ID=?"_s, {id}).toInt(), 1);
        QCOMPARE(catalogue.scalar(u"select count(*) from slides where parent_id=?"_s, {id}).toInt(), 1);
        // No transaction is left open: the next change is written for good.
        catalogue.exec(u"drop trigger keep_items"_s);
        ItemStore::deleteItem(query, id);
        Database::close();
        Database::open(catalogue.databasePath());
        QCOMPARE(catalogue.scalar(u"select count(*) from items"_s).toInt(), 0);
    }

    void lookupEntriesWithQuotesAndPercentSigns() {
        TempCatalogue catalogue;
        StoreQuery query;
        const QStringList tricky = {u"O'Brien"_s, u"50% скидка"_s, u"\"Кавычки\""_s, u"a_b"_s,
                                    u"x'); drop table grupy; --"_s};
        for (const QString& e : tricky)
            LookupStore::addEntry(query, u"grupy"_s, e);
        LookupStore::addEntry(query, u"grupy"_s, u"5"_s);
        QStringList expected = tricky;
        expected << u"5"_s;
        expected.sort();
        QStringList loaded = LookupStore::loadEntries(query, u"grupy"_s);
        QStringList sorted = loaded;
        sorted.sort();
        QCOMPARE(sorted, expected);

        // A percent sign or an underscore is no wildcard.
        QCOMPARE(LookupStore::deleteEntry(query, u"grupy"_s, u"5%"_s), 0);
        QCOMPARE(LookupStore::deleteEntry(query, u"grupy"_s, u"a%"_s), 0);
        QCOMPARE(LookupStore::loadEntries(query, u"grupy"_s).size(), expected.size());
        QCOMPARE(LookupStore::renameEntry(query, u"grupy"_s, u"50% скидка"_s, u"60% скидка"_s), 1);
        QCOMPARE(LookupStore::deleteEntry(query, u"grupy"_s, u"O'Brien"_s), 1);
        loaded = LookupStore::loadEntries(query, u"grupy"_s);
        expected.removeOne(u"O'Brien"_s);
        expected.replace(expected.indexOf(u"50% скидка"_s), u"60% скидка"_s);
        expected.sort();
        loaded.sort();
        QCOMPARE(loaded, expected);
    }

    void lookupEntriesComeInNaimenOrder() {
        TempCatalogue catalogue;
        catalogue.addEntries(u"rajony"_s, {u"Южный"_s, u"Заводской"_s, u"Центральный"_s});
        StoreQuery query;
        QCOMPARE(LookupStore::loadEntries(query, u"rajony"_s),
                 (QStringList{u"Заводской"_s, u"Центральный"_s, u"Южный"_s}));
        QVERIFY(LookupStore::loadEntries(query, u"voda"_s).isEmpty());
    }

    void onlyDirectoryTablesAreTaken() {
        TempCatalogue catalogue;
        catalogue.addItem({{u"grupa"_s, u"Обмен"_s}});
        StoreQuery query;
        for (const QString& table :
             {u"items"_s, u"pwl_cell"_s, u"GRUPY"_s, u"grupy; drop table items"_s, u""_s}) {
            QVERIFY_THROWS_EXCEPTION(AppError, LookupStore::loadEntries(query, table));
            QVERIFY_THROWS_EXCEPTION(AppError, LookupStore::addEntry(query, table, u"x"_s));
            QVERIFY_THROWS_EXCEPTION(AppError, LookupStore::renameEntry(query, table, u"x"_s, u"y"_s));
            QVERIFY_THROWS_EXCEPTION(AppError, LookupStore::deleteEntry(query, table, u"x"_s));
        }
        QCOMPARE(catalogue.scalar(u"select count(*) from items"_s).toInt(), 1);
        for (const DirectoryTable& t : DirectoryTables)
            QVERIFY(LookupStore::loadEntries(query, QString::fromLatin1(t.table)).isEmpty());
    }

    void settingATextDiscardsTheOpenResult() {
        TempCatalogue catalogue;
        catalogue.addEntries(u"grupy"_s, {u"А"_s, u"Б"_s});
        StoreQuery query;
        query.setText(Statements::lookupSelect(u"grupy"_s));
        query.open();
        QVERIFY(query.next());
        query.setText(Statements::lookupSelect(u"voda"_s));
        query.open();
        QVERIFY(!query.next());
        // A write on the same connection is not blocked by a result read half-way.
        query.setText(Statements::lookupSelect(u"grupy"_s));
        query.open();
        QVERIFY(query.next());
        StoreQuery other;
        LookupStore::addEntry(other, u"grupy"_s, u"В"_s);
        QCOMPARE(catalogue.scalar(u"select count(*) from grupy"_s).toInt(), 3);
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
