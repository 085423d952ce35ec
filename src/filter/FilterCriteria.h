#pragma once

#include <QString>
#include <QStringList>

class StoreQuery;

// The program-wide filter criteria: one value per classified attribute, or the no-filter marker.
class FilterCriteria {
public:
    static QString noFilterMarker(); // "<Не фильтровать>"

    void RegisterCriteria();
    void SetCriterion(const QString& key, const QString& value);
    QString GetCriterion(const QString& key) const;
    QString BuildWhereClause() const;
    void BindCriteria(StoreQuery& query) const;

    const QStringList& keys() const { return CriteriaKeys; }

private:
    QStringList CriteriaKeys;
    QStringList CriteriaValues;
};
