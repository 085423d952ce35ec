#include "Database.h"
#include "FilterCriteria.h"
#include "ItemStore.h"
#include "Schema.h"
#include "TestSupport.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QList<int> listedIds(const FilterCriteria& criteria) {
    StoreQuery query;
    ItemStore::openItemList(query, criteria.BuildWhereClause(), u"id"_s, true,
                            [&](StoreQuery& q) { criteria.BindCriteria(q); });
    QList<int> ids;
    while (query.next())
        ids << query.value(u"id"_s).toInt();
    return ids;
}

FilterCriteria registered() {
    FilterCriteria c;
    c.RegisterCriteria();
    return c;
}

} // namespace

class TestFilterCriteria : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startsInactive() {
        const FilterCriteria c = registered();
        QCOMPARE(c.keys().size(), DirectoryCount);
        for (const QString& key : c.keys())
            QCOMPARE(c.GetCriterion(key), u"<Не фильтровать>"_s);
        QCOMPARE(c.BuildWhereClause(), QString());
    }

    void clauseFollowsKeyOrder() {
        FilterCriteria c = registered();
        c.SetCriterion(u"grupa"_s, u"Эконом"_s);
        c.SetCriterion(u"rajon"_s, u"Центр"_s);
        QCOMPARE(c.BuildWhereClause(), u" where  rajon=:rajon  and  grupa=:grupa "_s);
        c.SetCriterion(u"komnoty"_s, u"2"_s);
        c.SetCriterion(u"rajon"_s, FilterCriteria::noFilterMarker());
        QCOMPARE(c.BuildWhereClause(), u" where  grupa=:grupa  and  komnoty=:komnoty "_s);
    }

    void unknownKeyIsIgnored() {
        FilterCriteria c = registered();
        c.SetCriterion(u"nosuch"_s, u"x"_s);
        c.SetCriterion(u"Rajon"_s, u"x"_s); // keys match exactly
        QVERIFY(c.GetCriterion(u"nosuch"_s).isNull());
        QCOMPARE(c.GetCriterion(u"rajon"_s), FilterCriteria::noFilterMarker());
        QCOMPARE(c.keys().size(), DirectoryCount);
        QCOMPARE(c.BuildWhereClause(), QString());
    }

    // Each criterion narrows a real list to exactly the items holding its text.
    void everyCriterionFiltersExactly() {
        TempCatalogue catalogue;
        const FilterCriteria none = registered();
        for (const QString& key : none.keys()) {
            catalogue.exec(u"delete from items"_s);
            const int hit = catalogue.addItem({{key, u"Да"_s}});
            catalogue.addItem({{key, u"да"_s}});
            catalogue.addItem({{key, u"Да "_s}});
            catalogue.addItem({});
            FilterCriteria c = registered();
            c.SetCriterion(key, u"Да"_s);
            QCOMPARE(listedIds(c), QList<int>{hit});
            QCOMPARE(listedIds(none).size(), 4);
        }
    }

    void specialCharactersAreBoundNotPasted() {
        TempCatalogue catalogue;
        const QStringList texts = {u"O'Нил"_s, u"Дом \"Ромашка\""_s, u"50%"_s, u"50%5"_s, u"_"_s,
                                   u"a"_s,     u"x' or '1'='1"_s};
        QList<int> ids;
        for (const QString& t : texts)
            ids << catalogue.addItem({{u"rajon"_s, t}, {u"grupa"_s, u"Г"_s}});
        catalogue.addItem({{u"rajon"_s, u"50%"_s}, {u"grupa"_s, u"Другая"_s}});
        for (int i = 0; i < texts.size(); ++i) {
            FilterCriteria c = registered();
            c.SetCriterion(u"rajon"_s, texts[i]);
            c.SetCriterion(u"grupa"_s, u"Г"_s);
            QCOMPARE(listedIds(c), QList<int>{ids[i]});
        }
    }

    // The marker itself can never become a criterion.
    void markerValueIsInactive() {
        TempCatalogue catalogue;
        catalogue.addItem({{u"gaz"_s, FilterCriteria::noFilterMarker()}});
        catalogue.addItem({{u"gaz"_s, u"Нет"_s}});
        FilterCriteria c = registered();
        c.SetCriterion(u"gaz"_s, FilterCriteria::noFilterMarker());
        QCOMPARE(c.BuildWhereClause(), QString());
        QCOMPARE(listedIds(c).size(), 2);
    }
};

QTEST_MAIN(TestFilterCriteria)
#include "tst_filtercriteria.moc"
