#include "AppError.h"
#include "Database.h"
#include "ItemStore.h"
#include "TestSupport.h"

#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;
using ItemStore::SaveOutcome;

namespace {

// A second copy of the program: a connection of its own on the same catalogue.
class OtherCopy {
public:
    explicit OtherCopy(const TempCatalogue& catalogue, const QString& name = u"other copy"_s) : m_name(name) {
        if (catalogue.isServer()) {
            Database::addServerConnection(m_name, catalogue.settings());
            return;
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name);
        db.setDatabaseName(catalogue.databasePath());
        if (!db.open())
            qFatal("cannot open the second connection");
    }
    ~OtherCopy() {
        { QSqlDatabase::database(m_name).close(); }
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name); }

    // Runs a statement; returns the engine's text of a failure, empty on success.
    QString exec(const QString& sql) {
        QSqlQuery q(db());
        return q.exec(sql) ? QString() : q.lastError().text();
    }

private:
    QString m_name;
};

// What the card's fields hold for the item below, as typed.
QHash<QString, QString> fields(const QString& etazh, const QString& dolg) {
    return {{u"grupa"_s, u"Обмен"_s},   {u"etazh"_s, etazh},       {u"etazhnost"_s, u"9"_s},
            {u"obsh_plosh"_s, u"54"_s}, {u"stoim"_s, u"100000"_s}, {u"dolg"_s, dolg}};
}

int addItem(TempCatalogue& catalogue) {
    return catalogue.addItem({{u"grupa"_s, u"Обмен"_s},
                              {u"etazh"_s, 2},
                              {u"etazhnost"_s, 9},
                              {u"obsh_plosh"_s, 54.0},
                              {u"stoim"_s, 100000},
                              {u"dolg"_s, 500},
                              {u"date_reg"_s, u"2024-05-01 10:00:00"_s}});
}

// The card's way of loading: open the item, keep its row, finish the query.
ItemStore::ItemSnapshot load(StoreQuery& query, int id) {
    if (!ItemStore::openItem(query, id))
        return {};
    const ItemStore::ItemSnapshot s = ItemStore::snapshot(query, id);
    query.finish();
    return s;
}

// Floor and debt as another connection reads them now.
QString stored(TempCatalogue& catalogue, int id) {
    OtherCopy reader(catalogue, u"reader"_s);
    QSqlQuery q(reader.db());
    if (!q.exec(u"select etazh, dolg from items where id=%1"_s.arg(id)) || !q.next())
        return u"(no row)"_s;
    return u"%1|%2"_s.arg(q.value(0).toLongLong()).arg(QString::number(q.value(1).toDouble()));
}

} // namespace

class TestLostUpdate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void secondSaveDoesNotUndoTheFirst() {
        TempCatalogue catalogue;
        const int id = addItem(catalogue);
        OtherCopy other(catalogue);
        StoreQuery mine;
        StoreQuery theirs(other.db());
        const ItemStore::ItemSnapshot myLoad = load(mine, id);
        const ItemStore::ItemSnapshot theirLoad = load(theirs, id);

        // The other copy saves a new floor...
        const auto first =
            ItemStore::updateItemIfUnchanged(theirs, id, theirLoad, fields(u"5"_s, u"500"_s), {});
        QCOMPARE(int(first.outcome), int(SaveOutcome::Saved));
        QCOMPARE(first.current.value(u"etazh"_s).toLongLong(), 5);
        // ...then this one a new debt: nothing is written, and the row as it is now comes back.
        const auto second = ItemStore::updateItemIfUnchanged(mine, id, myLoad, fields(u"2"_s, u"700"_s), {});
        QCOMPARE(int(second.outcome), int(SaveOutcome::ChangedElsewhere));
        QCOMPARE(second.current.value(u"etazh"_s).toLongLong(), 5);
        QCOMPARE(second.current.value(u"dolg"_s).toDouble(), 500.0);
        QCOMPARE(stored(catalogue, id), u"5|500"_s);
        QVERIFY(second.current.sameAs(ItemStore::readSnapshot(mine, id)));

        // "Overwrite": the card saves again against the row it was shown.
        const auto third =
            ItemStore::updateItemIfUnchanged(mine, id, second.current, fields(u"2"_s, u"700"_s), {});
        QCOMPARE(int(third.outcome), int(SaveOutcome::Saved));
        QCOMPARE(stored(catalogue, id), u"2|700"_s);
        QVERIFY(third.current.sameAs(ItemStore::readSnapshot(mine, id)));
        // The other copy's load is now out of date in turn.
        const auto fourth =
            ItemStore::updateItemIfUnchanged(theirs, id, theirLoad, fields(u"6"_s, u"500"_s), {});
        QCOMPARE(int(fourth.outcome), int(SaveOutcome::ChangedElsewhere));
        QCOMPARE(stored(catalogue, id), u"2|700"_s);
    }

    void itemDeletedElsewhere() {
        TempCatalogue catalogue;
        const int id = addItem(catalogue);
        StoreQuery mine;
        const ItemStore::ItemSnapshot loaded = load(mine, id);
        {
            OtherCopy other(catalogue);
            StoreQuery theirs(other.db());
            ItemStore::deleteItem(theirs, id);
        }
        const auto result = ItemStore::updateItemIfUnchanged(mine, id, loaded, fields(u"3"_s, u"0"_s), {});
        QCOMPARE(int(result.outcome), int(SaveOutcome::Deleted));
        QVERIFY(!result.current.exists);
        QCOMPARE(catalogue.scalar(u"select count(*) from items"_s).toInt(), 0);
    }

    void refusedValueWritesNothing() {
        TempCatalogue catalogue;
        const int id = addItem(catalogue);
        StoreQuery mine;
        const ItemStore::ItemSnapshot loaded = load(mine, id);
        QString text;
        try {
            ItemStore::updateItemIfUnchanged(mine, id, loaded, fields(u"второй"_s, u"700"_s), {});
        } catch (const AppError& e) {
            text = e.text();
        }
        QCOMPARE(text, u"Значение \"второй\" поля etazh не является числом"_s);
        QCOMPARE(stored(catalogue, id), u"2|500"_s);
        // No lock is left behind: another copy writes at once.
        OtherCopy other(catalogue);
        if (catalogue.isServer())
            QCOMPARE(other.exec(u"set lock_timeout = '1s'"_s), QString());
        QCOMPARE(other.exec(u"update items set etazh=4 where id=%1"_s.arg(id)), QString());
    }

    void everyColumnCounts_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("outcome");
        const int changed = int(SaveOutcome::ChangedElsewhere);
        QTest::newRow("letter case") << u"grupa='обмен'"_s << changed;
        QTest::newRow("trailing blank") << u"grupa='Обмен '"_s << changed;
        QTest::newRow("null to empty") << u"kontakt_inf=''"_s << changed;
        QTest::newRow("tiny fraction") << u"obsh_plosh=54.000000001"_s << changed;
        QTest::newRow("money") << u"dolg=500.0001"_s << changed;
        QTest::newRow("one second") << u"date_reg='2024-05-01 10:00:01'"_s << changed;
        QTest::newRow("contact information") << u"kontakt_inf='тел. 123'"_s << changed;
        QTest::newRow("same values written again")
            << u"grupa=grupa, etazh=etazh, dolg=dolg"_s << int(SaveOutcome::Saved);
    }

    void everyColumnCounts() {
        QFETCH(QString, change);
        QFETCH(int, outcome);
        TempCatalogue catalogue;
        const int id = addItem(catalogue);
        StoreQuery mine;
        const ItemStore::ItemSnapshot loaded = load(mine, id);
        OtherCopy other(catalogue);
        QCOMPARE(other.exec(u"update items set %1 where id=%2"_s.arg(change).arg(id)), QString());
        const auto result = ItemStore::updateItemIfUnchanged(mine, id, loaded, fields(u"3"_s, u"0"_s), {});
        QCOMPARE(int(result.outcome), outcome);
        // The floor typed in the card is written only when the row was as loaded.
        QCOMPARE(catalogue.scalar(u"select etazh from items"_s).toInt(),
                 outcome == int(SaveOutcome::Saved) ? 3 : 2);
    }

    void snapshotHoldsTheWholeRow() {
        TempCatalogue catalogue;
        const int id = addItem(catalogue);
        StoreQuery query;
        const ItemStore::ItemSnapshot loaded = load(query, id);
        QVERIFY(loaded.exists);
        QCOMPARE(loaded.id, id);
        QCOMPARE(loaded.columns.size(), 24);
        QCOMPARE(loaded.value(u"id"_s).toLongLong(), id);
        // As the engine hands it out: the file's text, the server's timestamp.
        if (catalogue.isServer())
            QCOMPARE(loaded.value(u"date_reg"_s), QVariant(QDateTime(QDate(2024, 5, 1), QTime(10, 0))));
        else
            QCOMPARE(loaded.value(u"date_reg"_s), QVariant(u"2024-05-01 10:00:00"_s));
        QCOMPARE(loaded.value(u"obsh_plosh"_s), QVariant(54.0));
        QVERIFY(loaded.value(u"kontakt_inf"_s).isNull());
        QVERIFY(!loaded.value(u"no such column"_s).isValid());
        QVERIFY(loaded.sameAs(ItemStore::readSnapshot(query, id)));
        const ItemStore::ItemSnapshot missing = ItemStore::readSnapshot(query, id + 1);
        QVERIFY(!missing.exists);
        QCOMPARE(missing.id, id + 1);
        QVERIFY(!missing.sameAs(loaded));
    }

    // Another copy has changed the row in a transaction it has not committed yet. The checked save
    // waits for it and then sees the change, instead of comparing with the row as it was and
    // writing over the other's change once the lock is free.
    void waitsForAnotherCopysUncommittedChange() {
        if (!TestStore::isServer())
            QSKIP("the file's transaction takes the write lock at its start (BEGIN IMMEDIATE)");
        TempCatalogue catalogue;
        const int id = addItem(catalogue);
        StoreQuery mine;
        const ItemStore::ItemSnapshot loaded = load(mine, id);

        QSemaphore changed;
        QString failure;
        std::unique_ptr<QThread> other(QThread::create([&] {
            {
                OtherCopy copy(catalogue, u"holder"_s);
                QSqlQuery q(copy.db());
                if (!q.exec(u"begin"_s) || !q.exec(u"update items set dolg=999 where id=%1"_s.arg(id))) {
                    failure = q.lastError().text();
                    changed.release();
                    return;
                }
                changed.release();
                // Commit once the save waits for this row.
                for (int i = 0; i < 3000; ++i) {
                    if (q.exec(u"select count(*) from pg_stat_activity where wait_event_type = 'Lock' "
                               u"and datname = current_database()"_s) &&
                        q.next() && q.value(0).toInt() > 0)
                        break;
                    QThread::msleep(10);
                }
                if (!q.exec(u"commit"_s))
                    failure = q.lastError().text();
            }
        }));
        other->start();
        changed.acquire();
        const auto result = ItemStore::updateItemIfUnchanged(mine, id, loaded, fields(u"3"_s, u"0"_s), {});
        other->wait();
        QCOMPARE(failure, QString());
        QCOMPARE(int(result.outcome), int(SaveOutcome::ChangedElsewhere));
        QCOMPARE(result.current.value(u"dolg"_s).toDouble(), 999.0);
        QCOMPARE(stored(catalogue, id), u"2|999"_s);
    }

    void plainUpdateStillWritesEveryColumn() {
        TempCatalogue catalogue;
        const int id = addItem(catalogue);
        StoreQuery query;
        ItemStore::updateItem(query, id, fields(u"7"_s, u"10"_s), QVariant(u"2024-05-01 10:00:00"_s));
        QCOMPARE(stored(catalogue, id), u"7|10"_s);
    }
};

QTEST_MAIN(TestLostUpdate)
#include "tst_lostupdate.moc"
