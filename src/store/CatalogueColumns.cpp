#include "CatalogueColumns.h"

#include "Schema.h"

using namespace Qt::StringLiterals;

QList<CatalogueColumn> catalogueColumns(const QString& table) {
    if (table == u"items") {
        QList<CatalogueColumn> columns = {{u"id"_s, ValueKind::Integer}, {u"date_reg"_s, ValueKind::Date}};
        for (int a = 1; a < AttributeCount; ++a) {
            const QString name = attributeColumn(a);
            switch (itemColumnKind(name)) {
            case ColumnKind::Integer:
                columns.append({name, ValueKind::Integer});
                break;
            case ColumnKind::Real:
                columns.append({name, ValueKind::Real});
                break;
            case ColumnKind::Currency:
                columns.append({name, ValueKind::Money});
                break;
            default:
                columns.append({name, ValueKind::Text});
            }
        }
        columns.append({u"kontakt_inf"_s, ValueKind::Text});
        return columns;
    }
    if (table == u"slides")
        return {{u"id"_s, ValueKind::Integer},
                {u"parent_id"_s, ValueKind::Integer},
                {u"ext"_s, ValueKind::Text},
                {u"picture"_s, ValueKind::Binary},
                {u"notes"_s, ValueKind::Text}};
    if (table == u"rooms")
        return {{u"id"_s, ValueKind::Integer},
                {u"items_id"_s, ValueKind::Integer},
                {u"roomname"_s, ValueKind::Text},
                {u"p"_s, ValueKind::Real}};
    if (table == u"pwl_cell")
        return {{u"pwl_value"_s, ValueKind::Text}};
    return {{u"naimen"_s, ValueKind::Text}};
}

bool hasNumberedId(const QString& table) {
    return table == u"items" || table == u"slides" || table == u"rooms";
}
