#include "AppError.h"
#include "Database.h"
#include "PasswordStore.h"
#include "Statements.h"
#include "TestSupport.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The table's rows in storage order; a null shows as "<null>".
QStringList storedRows() {
    QSqlQuery q(Database::connection());
    if (!q.exec(u"select pwl_value from pwl_cell order by rowid"_s))
        qFatal("cannot read pwl_cell");
    QStringList rows;
    while (q.next())
        rows << (q.value(0).isNull() ? u"<null>"_s : q.value(0).toString());
    return rows;
}

} // namespace

class TestPasswordStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsTheFirstColumnOfTheFirstRow_data() {
        QTest::addColumn<QVariantList>("rows");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no row") << QVariantList{} << QString();
        QTest::newRow("null") << QVariantList{QVariant()} << QString();
        QTest::newRow("empty") << QVariantList{u""_s} << QString();
        QTest::newRow("as typed") << QVariantList{u"Пароль 1 "_s} << u"Пароль 1 "_s;
        QTest::newRow("first of several") << QVariantList{u"first"_s, u"second"_s} << u"first"_s;
        QTest::newRow("number") << QVariantList{1234} << u"1234"_s;
    }

    void readsTheFirstColumnOfTheFirstRow() {
        QFETCH(QVariantList, rows);
        QFETCH(QString, expected);
        TempCatalogue cat;
        for (const QVariant& row : rows)
            cat.exec(u"insert into pwl_cell (pwl_value) values (?)"_s, {row});
        StoreQuery query;
        QCOMPARE(PasswordStore::readPassword(query), expected);
        QCOMPARE(query.text(), Statements::selectPassword());
    }

    void settingLeavesExactlyOneRow() {
        TempCatalogue cat;
        cat.exec(u"insert into pwl_cell (pwl_value) values ('a'), (null), ('c')"_s);
        StoreQuery query;
        PasswordStore::setPassword(query, u"Новый Пароль "_s);
        QCOMPARE(storedRows(), QStringList{u"Новый Пароль "_s});
        QCOMPARE(PasswordStore::readPassword(query), u"Новый Пароль "_s);

        // An empty password is stored as empty text, not as null.
        PasswordStore::setPassword(query, QString());
        QCOMPARE(storedRows(), QStringList{QString(u""_s)});
        QCOMPARE(cat.scalar(u"select count(*) from pwl_cell where pwl_value = ''"_s).toInt(), 1);
        QCOMPARE(PasswordStore::readPassword(query), QString());
    }

    void refusedInsertKeepsTheOldPassword() {
        TempCatalogue cat;
        cat.exec(u"insert into pwl_cell (pwl_value) values ('old')"_s);
        cat.exec(u"create trigger refuse_password before insert on pwl_cell "
                 u"begin select raise(abort, 'password refused'); end"_s);
        StoreQuery query;
        QString error;
        try {
            PasswordStore::setPassword(query, u"new"_s);
        } catch (const AppError& e) {
            error = e.text();
        }
        QCOMPARE(error, u"password refused"_s);
        QCOMPARE(storedRows(), QStringList{u"old"_s});

        // Nothing stays open: the next change goes through once the trigger is gone.
        cat.exec(u"drop trigger refuse_password"_s);
        PasswordStore::setPassword(query, u"new"_s);
        QCOMPARE(storedRows(), QStringList{u"new"_s});
    }
};

QTEST_GUILESS_MAIN(TestPasswordStore)
#include "tst_passwordstore.moc"
