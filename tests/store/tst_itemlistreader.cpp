#include "AppError.h"
#include "Database.h"
#include "ItemListReader.h"
#include "ItemRowStore.h"
#include "ItemStore.h"
#include "Libpq.h"
#include "Schema.h"
#include "TestSupport.h"

#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace {

struct Row {
    int id;
    QStringList cells;
};

QList<Row> readList(const ItemListReader::Request& request, ItemRowStore* kept = nullptr) {
    StoreQuery query;
    ItemRowStore store(request.columns);
    ItemListReader::read(query, request, store);
    QList<Row> rows;
    for (int r = 0; r < store.rowCount(); ++r) {
        rows.append(Row{store.id(r), {}});
        for (int c = 0; c < store.columnCount(); ++c)
            rows.last().cells << store.text(r, c);
    }
    if (kept)
        *kept = store;
    return rows;
}

QStringList allColumns() {
    QStringList columns;
    for (int a = 0; a < AttributeCount; ++a)
        columns << attributeColumn(a);
    return columns;
}

} // namespace

class TestItemListReader : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // Whatever the engine holds, the list shows each value as the text form of the generic driver
    // does: the same texts whichever way the rows are read.
    void listTextsMatchTheValuesTextForm() {
        QLocale::setDefault(QLocale(u"ru_RU"_s));
        TempCatalogue cat;
        cat.addItem({{u"date_reg"_s, u"2024-10-05 13:03:08"_s},
                     {u"grupa"_s, u"Продажа"_s},
                     {u"obsh_plosh"_s, 100000.0},
                     {u"etazh"_s, 3},
                     {u"stoim"_s, 1234.56789},
                     {u"dolg"_s, 7},
                     {u"osob"_s, u"строка 1\r\nстрока 2"_s}});
        if (cat.isServer()) {
            // Typed columns hold only values of their type there.
            cat.addItem({{u"obsh_plosh"_s, 45.5}, {u"etazh"_s, 2}, {u"stoim"_s, 0.1}});
            cat.addItem({{u"osob"_s, u"ABC"_s}});
        } else {
            cat.addItem({{u"date_reg"_s, u"вчера"_s},
                         {u"obsh_plosh"_s, u"45,5 м"_s},
                         {u"etazh"_s, 2.5},
                         {u"stoim"_s, u"дорого"_s}});
            cat.addItem({});
            cat.exec(u"update items set osob = x'41420043' where id = 3"_s); // a blob in a text column
        }

        ItemListReader::Request request;
        request.sortColumn = u"id"_s;
        request.columns = allColumns();
        const QList<Row> rows = readList(request);
        QCOMPARE(rows.size(), 3);

        StoreQuery reference;
        for (const Row& row : rows) {
            QVERIFY(ItemStore::openItem(reference, row.id));
            for (qsizetype c = 0; c < request.columns.size(); ++c)
                QCOMPARE(row.cells[c], reference.text(request.columns[c]));
        }
        QCOMPARE(rows[0].cells[0], u"05.10.2024 13:03:08"_s);
        QCOMPARE(rows[0].cells[3], u"100000"_s);
        QCOMPARE(rows[0].cells[20], u"1234,5679"_s);
        QCOMPARE(rows[0].cells[1], u"Продажа"_s);
        QCOMPARE(rows[0].cells[10], u"3"_s);
        QCOMPARE(rows[0].cells[21], u"7"_s);
        QCOMPARE(rows[0].cells[14], u"строка 1\r\nстрока 2"_s);
        if (cat.isServer()) {
            QCOMPARE(rows[1].cells[0], QString());
            QCOMPARE(rows[1].cells[3], u"45,5"_s);
            QCOMPARE(rows[1].cells[10], u"2"_s);
            QCOMPARE(rows[1].cells[20], u"0,1"_s);
            QCOMPARE(rows[2].cells[14], u"ABC"_s);
        } else {
            QCOMPARE(rows[1].cells[0], u"вчера"_s);
            QCOMPARE(rows[1].cells[10], u"2,5"_s);
        }
        QCOMPARE(rows[2].cells[1], QString());
    }

    void criteriaAreBoundAndCounted() {
        TempCatalogue cat;
        for (const auto& [group, district] : {std::pair{u"А"_s, u"Центр"_s}, std::pair{u"Б"_s, u"Центр"_s},
                                              std::pair{u"А"_s, u"Юг"_s}, std::pair{u"А"_s, u"Центр"_s}})
            cat.addItem({{u"grupa"_s, group}, {u"rajon"_s, district}});
        ItemListReader::Request request;
        request.whereClause = u" where  grupa=:grupa  and  rajon=:rajon "_s;
        request.bindCriteria = [](StoreQuery& q) {
            q.bind(u"grupa"_s, u"А"_s);
            q.bind(u"rajon"_s, u"Центр"_s);
        };
        request.sortColumn = u"rajon"_s;
        request.ascending = false;
        request.columns = {u"grupa"_s, u"rajon"_s};
        ItemRowStore store;
        const QList<Row> rows = readList(request, &store);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].id, 1);
        QCOMPARE(rows[1].id, 4);
        QCOMPARE(rows[1].cells, (QStringList{u"А"_s, u"Центр"_s}));
        // Equal directory texts are one shared copy.
        QCOMPARE(store.bytes(0, 1).data(), store.bytes(1, 1).data());

        StoreQuery query;
        QCOMPARE(ItemListReader::count(query, request.whereClause, request.bindCriteria), 2);
        QCOMPARE(ItemListReader::count(query, QString(), {}), 4);
    }

    // SQLite's order on both stores: nulls first going up and last going down, texts by code point,
    // equal values by id both ways.
    void sortOrderAndNulls_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<QList<int>>("ascending"); // positions in `values`, 1-based ids
        QTest::newRow("text") << u"grupa"_s << QVariantList{u"б"_s, QVariant(), u"Б"_s, u""_s,     u"b"_s,
                                                            u"B"_s, u"ё"_s,     u"Б"_s, QVariant()}
                              << QList<int>{2, 9, 4, 6, 5, 3, 8, 1, 7};
        QTest::newRow("money") << u"stoim"_s << QVariantList{100.5, QVariant(), -3, 100.4999, 0, 100.5}
                               << QList<int>{2, 3, 5, 4, 1, 6};
        QTest::newRow("floor") << u"etazh"_s << QVariantList{9, 10, QVariant(), 1, 10}
                               << QList<int>{3, 4, 1, 2, 5};
        QTest::newRow("date") << u"date_reg"_s
                              << QVariantList{u"2024-05-01 10:00:00"_s, QVariant(), u"2023-12-31 23:59:59"_s,
                                              u"2024-05-01 09:59:59"_s}
                              << QList<int>{2, 3, 4, 1};
    }

    void sortOrderAndNulls() {
        QFETCH(QString, column);
        QFETCH(QVariantList, values);
        QFETCH(QList<int>, ascending);
        TempCatalogue cat;
        for (const QVariant& v : values)
            cat.addItem({{column, v}});
        ItemListReader::Request request;
        request.sortColumn = column;
        request.columns = {column};
        QList<int> ids;
        for (const Row& row : readList(request))
            ids << row.id;
        QCOMPARE(ids, ascending);

        // Going down reverses the groups of equal values, not the ids within them.
        QList<int> descending;
        for (qsizetype i = ascending.size(); i > 0;) {
            qsizetype start = i - 1;
            const QVariant value = values[ascending[start] - 1];
            while (start > 0 && values[ascending[start - 1] - 1] == value)
                --start;
            for (qsizetype j = start; j < i; ++j)
                descending << ascending[j];
            i = start;
        }
        request.ascending = false;
        ids.clear();
        for (const Row& row : readList(request))
            ids << row.id;
        QCOMPARE(ids, descending);
    }

    // A read that fails on the way reports the engine's text and leaves the connection ready for
    // the next one: on a server the rest of the result is not left waiting on the connection.
    void failedReadLeavesTheConnectionUsable_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QString>("failure"); // empty: read without one
        QTest::addColumn<QList<int>>("ids");
        QTest::newRow("missing column") << QString() << QStringList{u"grupa"_s, u"no_such"_s}
                                        << u"Поле no_such не найдено"_s << QList<int>{};
        // SQLite's division by zero gives null, the server's fails.
        QTest::newRow("failing row") << u" where 1/(id-3) <> 7 "_s << QStringList{u"grupa"_s}
                                     << u"division by zero"_s << QList<int>{1, 2, 4};
    }

    void failedReadLeavesTheConnectionUsable() {
        QFETCH(QString, where);
        QFETCH(QStringList, columns);
        QFETCH(QString, failure);
        QFETCH(QList<int>, ids);
        TempCatalogue cat;
        for (int i = 0; i < 4; ++i)
            cat.addItem({{u"grupa"_s, u"Продажа"_s}});
        ItemListReader::Request request;
        request.whereClause = where;
        request.sortColumn = u"id"_s;
        request.columns = columns;
        QString text;
        QList<int> read;
        try {
            for (const Row& row : readList(request))
                read << row.id;
        } catch (const AppError& e) {
            text = e.text();
        }
        if (ids.isEmpty() || cat.isServer()) {
            QCOMPARE(text, failure);
        } else {
            QCOMPARE(text, QString());
            QCOMPARE(read, ids);
        }
        request.whereClause.clear();
        request.columns = {u"grupa"_s};
        QCOMPARE(readList(request).size(), 4);
    }

    // Another copy holding the file keeps even readers out: the read waits in slices and goes
    // through once it lets go (the server's case is with the reconnect tests).
    void readWaitsForAnotherCopy() {
        TempCatalogue cat;
        if (cat.isServer())
            QSKIP("a file's lock");
        for (int i = 0; i < 2; ++i)
            cat.addItem({{u"grupa"_s, u"Продажа"_s}});
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(cat.databasePath().toUtf8().constData(), &other), SQLITE_OK);
        const auto closeOther = qScopeGuard([other] { sqlite3_close(other); });
        QCOMPARE(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
        int pauses = 0;
        Database::setWaiter({[&](qint64 waited) {
                                 ++pauses;
                                 if (waited >= 200)
                                     sqlite3_exec(other, "commit", nullptr, nullptr, nullptr);
                                 QThread::msleep(10);
                                 return true;
                             },
                             {}});
        const auto noWaiter = qScopeGuard([] { Database::setWaiter({}); });
        ItemListReader::Request request;
        request.sortColumn = u"id"_s;
        request.columns = {u"grupa"_s};
        QCOMPARE(readList(request).size(), 2);
        QVERIFY2(pauses > 5, qPrintable(QString::number(pauses)));
    }

    // Named markers become the server's numbered ones, each name once, with its last value; quotes,
    // comments and casts keep their colons.
    void serverParameters_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QVariantList>("bound"); // name, value, name, value, ...
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("values"); // a null string for null
        QTest::newRow("criteria") << u" where  grupa=:grupa  and  rajon=:rajon "_s
                                  << QVariantList{u"rajon"_s, u"Центр"_s, u"grupa"_s, u"O'Brien"_s}
                                  << u" where  grupa=$1  and  rajon=$2 "_s
                                  << QStringList{u"O'Brien"_s, u"Центр"_s};
        QTest::newRow("quotes, comments, casts")
            << u"select to_char(d, 'HH24:MI:SS'), \"a:b\", 'it''s :x', x::text /* :y */ from t -- :z\nwhere y=:y"_s
            << QVariantList{u"y"_s, 5}
            << u"select to_char(d, 'HH24:MI:SS'), \"a:b\", 'it''s :x', x::text /* :y */ from t -- :z\nwhere y=$1"_s
            << QStringList{u"5"_s};
        QTest::newRow("repeated, rebound, missing")
            << u"a=:a or b=:b or a2=:a"_s << QVariantList{u"a"_s, 0.1, u"a"_s, 2.5}
            << u"a=$1 or b=$2 or a2=$1"_s << QStringList{u"2.5"_s, QString()};
    }

    void serverParameters() {
        QFETCH(QString, statement);
        QFETCH(QVariantList, bound);
        QFETCH(QString, expected);
        QFETCH(QStringList, values);
        QList<std::pair<QString, QVariant>> pairs;
        for (qsizetype i = 0; i + 1 < bound.size(); i += 2)
            pairs.append({bound[i].toString(), bound[i + 1]});
        const Libpq::Parameters parameters(statement, pairs);
        QCOMPARE(QString::fromUtf8(parameters.statement()), expected);
        QStringList got;
        for (int i = 0; i < parameters.count(); ++i)
            got << (parameters.values()[i]
                        ? QString::fromUtf8(parameters.values()[i], parameters.lengths()[i])
                        : QString());
        QCOMPARE(got, values);
        for (int i = 0; i < parameters.count(); ++i)
            QCOMPARE(parameters.values()[i] == nullptr, values[i].isNull());
    }

    // Rows beyond one chunk of cells, a text in a block of its own, rows taken out and a row left
    // incomplete; the memory of one list taken over by the next.
    void rowStoreKeepsRowsWhereverTheyLie() {
        const QStringList columns{u"grupa"_s, u"osob"_s, u"etazh"_s};
        const QString big = QString(300000, u'ж') + u"конец"_s;
        const auto fill = [&](ItemRowStore& rows, int count) {
            for (int r = 0; r < count; ++r) {
                rows.addRow(r + 1);
                const QByteArray group = (u"Группа "_s + QString::number(r % 3)).toUtf8();
                rows.addCell(ItemRowStore::Value::Text, group.constData(), group.size());
                const QByteArray text = (r == 1500 ? big : u"текст "_s + QString::number(r)).toUtf8();
                rows.addCell(ItemRowStore::Value::Text, text.constData(), text.size());
                const QByteArray floor = QByteArray::number(r);
                rows.addCell(ItemRowStore::Value::Integer, floor.constData(), floor.size());
            }
        };
        ItemRowStore rows(columns);
        fill(rows, 2100);
        rows.addRow(9999); // never finished
        rows.addNull();
        QCOMPARE(rows.rowCount(), 2100);
        for (int row : {2099, 1023, 0})
            rows.removeRow(row);
        QCOMPARE(rows.rowCount(), 2097);
        QCOMPARE(rows.id(0), 2);
        QCOMPARE(rows.text(1021, 1), u"текст 1022"_s);
        QCOMPARE(rows.id(1022), 1025);
        QCOMPARE(rows.text(1498, 1), big);
        QCOMPARE(rows.textHead(1498, 1, 10), u"жжжжж"_s);
        QCOMPARE(rows.text(2096, 2), u"2098"_s);
        QCOMPARE(rows.rowOfId(9999), -1);
        QCOMPARE(rows.bytes(0, 0).data(), rows.bytes(3, 0).data());

        ItemRowStore next(columns);
        next.reuseSpaceOf(rows);
        QCOMPARE(rows.rowCount(), 0);
        fill(next, 1600);
        next.dropSpareSpace();
        QCOMPARE(next.text(1500, 1), big);
        QCOMPARE(next.text(1599, 0), u"Группа 0"_s);
        QCOMPARE(next.text(1024, 1), u"текст 1024"_s);
    }

    void refusedStatementThrowsTheEngineText() {
        TempCatalogue cat;
        cat.addItem({});
        ItemListReader::Request request;
        request.sortColumn = u"no_such_column"_s;
        request.columns = {u"grupa"_s};
        try {
            readList(request);
            QFAIL("no failure");
        } catch (const AppError& e) {
            QCOMPARE(e.text(), cat.isServer() ? u"column items.no_such_column does not exist"_s
                                              : u"no such column: no_such_column"_s);
        }
    }
};

QTEST_GUILESS_MAIN(TestItemListReader)
#include "tst_itemlistreader.moc"
