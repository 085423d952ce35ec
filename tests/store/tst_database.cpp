#include "AppError.h"
#include "Database.h"
#include "ItemStore.h"
#include "SlideStore.h"
#include "Statements.h"
#include "TestSupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Makes the engine refuse every delete from `table` with `message`.
void refuseDeletes(TempCatalogue& catalogue, const QString& table, const QString& message) {
    if (catalogue.isServer()) {
        catalogue.exec(u"create function refuse_%1() returns trigger language plpgsql as "
                       u"$$ begin raise exception '%2'; end $$"_s.arg(table, message));
        catalogue.exec(
            u"create trigger refuse_%1 before delete on %1 for each row execute function refuse_%1()"_s.arg(
                table));
    } else {
        catalogue.exec(
            u"create trigger refuse_%1 before delete on %1 begin select raise(abort, '%2'); end"_s.arg(
                table, message));
    }
}

void allowDeletes(TempCatalogue& catalogue, const QString& table) {
    catalogue.exec(catalogue.isServer() ? u"drop trigger refuse_%1 on %1"_s.arg(table)
                                        : u"drop trigger refuse_%1"_s.arg(table));
}

} // namespace

class TestDatabase : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openRefusesAFileThatIsNoDatabase() {
        if (TestStore::isServer())
            QSKIP("the file only");
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
        if (TestStore::isServer())
            QSKIP("the file only");
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
        // The engine's own message; the server's without its severity word and the statement.
        QCOMPARE(text,
                 catalogue.isServer() ? u"relation \"nosuch\" does not exist"_s : u"no such table: nosuch"_s);
        text = failureText([&] {
            query.setText(u"select nocolumn from items"_s);
            query.open();
        });
        QCOMPARE(text, catalogue.isServer() ? u"column \"nocolumn\" does not exist"_s
                                            : u"no such column: nocolumn"_s);
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
            catalogue.exec(u"insert into slides (parent_id, ext, picture) values (?, '.jpg', ?)"_s,
                           {id, QByteArray("\xff\xd8")});
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
        catalogue.exec(u"insert into slides (parent_id, ext, picture) values (?, '.jpg', ?)"_s,
                       {id, QByteArray("\xff\xd8")});
        refuseDeletes(catalogue, u"items"_s, u"item is locked"_s);
        StoreQuery query;
        const QString text = failureText([&] { ItemStore::deleteItem(query, id); });
        QVERIFY2(text.contains(u"item is locked"_s), qPrintable(text));
        QCOMPARE(catalogue.scalar(u"select count(*) from items"_s).toInt(), 1);
        QCOMPARE(catalogue.scalar(u"select count(*) from rooms where Items_ID=?"_s, {id}).toInt(), 1);
        QCOMPARE(catalogue.scalar(u"select count(*) from slides where parent_id=?"_s, {id}).toInt(), 1);
        // No transaction is left open: the next change is written for good.
        allowDeletes(catalogue, u"items"_s);
        ItemStore::deleteItem(query, id);
        catalogue.reopen();
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
        // By code point, whatever collation the engine's database has: capitals before small letters,
        // Latin before Cyrillic, Ё before А.
        catalogue.addEntries(u"rajony"_s, {u"Южный"_s, u"Заводской"_s, u"арка"_s, u"Центральный"_s, u"Ёлки"_s,
                                           u"alpha"_s, u"Zeta"_s, u"ёж"_s, u"жук"_s});
        StoreQuery query;
        QCOMPARE(LookupStore::loadEntries(query, u"rajony"_s),
                 (QStringList{u"Zeta"_s, u"alpha"_s, u"Ёлки"_s, u"Заводской"_s, u"Центральный"_s, u"Южный"_s,
                              u"арка"_s, u"жук"_s, u"ёж"_s}));
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

    // Pictures keep every byte; the slides of an item come in id order, also after a note changed
    // (on the server the changed row moves: the pictures fill its place).
    void slidesKeepTheirBytesAndOrder() {
        TempCatalogue catalogue;
        QByteArray every;
        for (int b = 0; b < 256; ++b)
            every.append(char(b));
        QRandomGenerator noise(42);
        const auto filler = [&noise] {
            QByteArray bytes(1900, Qt::Uninitialized);
            noise.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
            return bytes;
        };
        QList<QByteArray> pictures = {every + filler(), filler(), filler(), QByteArray(300'000, '\0'),
                                      QByteArray()};
        const QStringList exts = {u".jpg"_s, u".bmp"_s, u".png"_s, u".bmp"_s, u".emf"_s};
        StoreQuery query;
        for (qsizetype i = 0; i < pictures.size(); ++i) {
            SlideStore::insertSlide(query, 7, exts[i], pictures[i]);
            if (i == 1)
                SlideStore::insertSlide(query, 8, u".png"_s, QByteArray("other"));
        }
        // Whatever plan the server picks: a scan of the table meets the changed row last.
        if (catalogue.isServer())
            catalogue.exec(u"set enable_indexscan = off; set enable_bitmapscan = off"_s);
        const QList<SlideRecord> before = SlideStore::loadSlides(query, 7);
        QCOMPARE(before.size(), pictures.size());
        SlideStore::updateSlideNotes(query, before[0].id, u"Вид из окна"_s);
        const QList<SlideRecord> slides = SlideStore::loadSlides(query, 7);
        QCOMPARE(slides.size(), pictures.size());
        for (qsizetype i = 0; i < slides.size(); ++i) {
            QCOMPARE(slides[i].id, before[i].id);
            QCOMPARE(slides[i].picture, pictures[i]);
            QCOMPARE(slides[i].ext, exts[i]);
            QCOMPARE(slides[i].notes, i == 0 ? u"Вид из окна"_s : QString());
            if (i > 0)
                QVERIFY(slides[i - 1].id < slides[i].id);
        }
        QCOMPARE(SlideStore::findSlideNotes(query, slides[0].id), std::optional<QString>(u"Вид из окна"_s));
        SlideStore::deleteSlide(query, slides[0].id);
        QCOMPARE(SlideStore::findSlideNotes(query, slides[0].id), std::nullopt);
        QCOMPARE(SlideStore::loadSlides(query, 8).size(), 1);
    }

    // The card's values, converted from the regional form, read back as the same texts.
    void cardValuesReadBackAlike() {
        QLocale::setDefault(QLocale(u"ru_RU"_s));
        TempCatalogue catalogue;
        StoreQuery query;
        ItemStore::NewItem item;
        item.texts = {
            {u"grupa"_s, u"Обмен"_s}, {u"sost"_s, u"строка 1\r\nстрока 2"_s}, {u"kontakt_inf"_s, u""_s}};
        item.obshPlosh = 54.3;
        item.etazh = -1;
        item.etazhnost = 2147483647;
        item.stoim = 1234567.891249;
        item.dolg = 0.1 + 0.2;
        item.dateReg = QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58));
        ItemStore::insertItem(query, item);
        const int id = catalogue.scalar(u"select max(id) from items"_s).toInt();
        const auto texts = [&] {
            QStringList t;
            if (!ItemStore::openItem(query, id))
                return t;
            for (const QString& c : {u"grupa"_s, u"sost"_s, u"kontakt_inf"_s, u"obsh_plosh"_s, u"etazh"_s,
                                     u"etazhnost"_s, u"stoim"_s, u"dolg"_s, u"date_reg"_s, u"osob"_s})
                t << query.text(c);
            query.finish();
            return t;
        };
        QCOMPARE(texts(), (QStringList{u"Обмен"_s, u"строка 1\r\nстрока 2"_s, QString(), u"54,3"_s, u"-1"_s,
                                       u"2147483647"_s, u"1234567,8912"_s, u"0,3"_s, u"29.02.2024 23:59:58"_s,
                                       QString()}));

        ItemStore::updateItem(query, id,
                              {{u"grupa"_s, u"Продажа"_s},
                               {u"obsh_plosh"_s, u" 1,5e2 "_s},
                               {u"etazh"_s, u"+7"_s},
                               {u"etazhnost"_s, u"9,0"_s},
                               {u"stoim"_s, u"0,00005"_s},
                               {u"dolg"_s, u"-12"_s}},
                              QVariant(QDateTime(QDate(2023, 1, 2), QTime(0, 0))));
        QCOMPARE(texts(), (QStringList{u"Продажа"_s, QString(), QString(), u"150"_s, u"7"_s, u"9"_s,
                                       u"0,0001"_s, u"-12"_s, u"02.01.2023"_s, QString()}));
        QLocale::setDefault(QLocale::c());
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
