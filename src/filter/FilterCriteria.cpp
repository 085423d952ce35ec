#include "FilterCriteria.h"

#include "Database.h"

using namespace Qt::StringLiterals;

QString FilterCriteria::noFilterMarker() {
    return u"<Не фильтровать>"_s;
}

void FilterCriteria::RegisterCriteria() {
    CriteriaKeys = {u"rajon"_s, u"grupa"_s,       u"sanuzel"_s, u"tip_kv"_s,  u"pech"_s,
                    u"dver"_s,  u"perigorodka"_s, u"gaz"_s,     u"konaliz"_s, u"garazh"_s,
                    u"voda"_s,  u"tip_stroen"_s,  u"kolonka"_s, u"komnoty"_s};
    CriteriaValues.clear();
    for (qsizetype i = 0; i < CriteriaKeys.size(); ++i)
        CriteriaValues.append(noFilterMarker());
}

void FilterCriteria::SetCriterion(const QString& key, const QString& value) {
    const qsizetype i = CriteriaKeys.indexOf(key);
    if (i >= 0)
        CriteriaValues[i] = value;
}

QString FilterCriteria::GetCriterion(const QString& key) const {
    const qsizetype i = CriteriaKeys.indexOf(key);
    return i >= 0 ? CriteriaValues[i] : QString();
}

QString FilterCriteria::BuildWhereClause() const {
    QString clause;
    for (const QString& key : CriteriaKeys) {
        if (GetCriterion(key) == noFilterMarker())
            continue;
        clause += clause.isEmpty() ? u" where "_s : u" and "_s;
        clause += u' ' + key + u"=:"_s + key + u' ';
    }
    return clause;
}

void FilterCriteria::BindCriteria(StoreQuery& query) const {
    for (qsizetype i = 0; i < CriteriaKeys.size(); ++i) {
        if (CriteriaValues[i] != noFilterMarker())
            query.bind(CriteriaKeys[i], CriteriaValues[i]);
    }
}
