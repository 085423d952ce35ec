#include "AppError.h"
#include "Statements.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The statement texts are fixed word for word (blanks included): a reflowed literal or a lost blank
// shows up here.
class StatementsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listStatement() {
        QCOMPARE(Statements::itemList(QString(), u"grupa"_s, true),
                 u"select * from Items  order by grupa ASC , id"_s);
        QCOMPARE(Statements::itemList(u" where  rajon=:rajon "_s, u"stoim"_s, false),
                 u"select * from Items  where  rajon=:rajon  order by stoim DESC , id"_s);
    }

    void itemStatements() {
        QCOMPARE(
            Statements::insertItem(),
            u"insert into items (grupa, rajon, obsh_plosh, sanuzel, komnoty, tip_kv, sost, pech, kolonka, "
            u"etazh, etazhnost, dver, perigorodka, osob, gaz, konaliz, garazh, voda, tip_stroen, stoim, "
            u"dolg, kontakt_inf, date_reg) Values (:grupa, :rajon, :obsh_plosh, :sanuzel, :komnoty, "
            u":tip_kv, :sost, :pech, :kolonka, :etazh, :etazhnost, :dver, :perigorodka, :osob, :gaz, "
            u":konaliz, :garazh, :voda, :tip_stroen, :stoim, :dolg, :kontakt_inf, :d_r)"_s);
        QCOMPARE(Statements::updateItem(),
                 u"update items set grupa=:grupa, rajon=:rajon, obsh_plosh=:obsh_plosh, sanuzel=:sanuzel, "
                 u"komnoty=:komnoty, tip_kv=:tip_kv, sost=:sost, pech=:pech, kolonka=:kolonka,etazh=:etazh, "
                 u"etazhnost=:etazhnost, dver=:dver, perigorodka=:perigorodka, osob=:osob, gaz=:gaz, "
                 u"konaliz=:konaliz, garazh=:garazh, voda=:voda, tip_stroen=:tip_stroen, stoim=:stoim, "
                 u"dolg=:dolg, kontakt_inf=:kontakt_inf, date_reg=:d_r where id=:id"_s);
        QCOMPARE(Statements::itemById(42), u"select * from items where id=42"_s);
        QCOMPARE(Statements::deleteItem(-7), u"delete from items where id=-7"_s);
    }

    void dependantStatements() {
        QCOMPARE(Statements::insertSlide(),
                 u"insert into slides (parent_id, ext, picture)  values (:parent_id, :ext, :picture)"_s);
        QCOMPARE(Statements::slidesOfItem(3), u"select * from slides where parent_id=3"_s);
        QCOMPARE(Statements::deleteSlidesOfItem(3), u"delete from slides where parent_id=3"_s);
        QCOMPARE(Statements::deleteRoomsOfItem(3), u"delete from rooms where items_id=3"_s);
        QCOMPARE(Statements::roomAreaSum(3), u"select sum(p) from rooms where items_id=3"_s);
        QCOMPARE(Statements::roomsFilter(3), u"Items_ID=3"_s);
    }

    void lookupStatementsTakeOnlyKnownTables() {
        QCOMPARE(Statements::lookupSelect(u"grupy"_s), u"select * from grupy order by naimen"_s);
        QCOMPARE(Statements::lookupInsert(u"grupy"_s), u"insert into grupy values (:naimen)"_s);
        QCOMPARE(Statements::lookupUpdate(u"grupy"_s),
                 u"update grupy set naimen=:naimen2 where naimen=:naimen"_s);
        QCOMPARE(Statements::lookupDelete(u"komnaty"_s), u"delete from komnaty where naimen=:naimen"_s);
        QVERIFY_THROWS_EXCEPTION(AppError, Statements::lookupSelect(u"items"_s));
        QVERIFY_THROWS_EXCEPTION(AppError, Statements::lookupDelete(u"grupy; drop table items"_s));
        QVERIFY_THROWS_EXCEPTION(AppError, Statements::lookupInsert(u"GRUPY"_s));
    }
};

QTEST_GUILESS_MAIN(StatementsTest)
#include "tst_statements.moc"
