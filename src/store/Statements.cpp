#include "Statements.h"

#include "AppError.h"
#include "Schema.h"

#include <QSqlDatabase>

using namespace Qt::StringLiterals;

namespace {

QString checkedTable(const QString& table) {
    if (!findDirectoryTable(table))
        throw AppError(QStringLiteral("Неизвестный справочник: %1").arg(table));
    return table;
}

} // namespace

namespace Statements {

Dialect dialectOf(const QSqlDatabase& db) {
    return db.driverName() == u"QPSQL" ? Dialect::PostgreSQL : Dialect::SQLite;
}

QString itemList(const QString& whereClause, const QString& sortColumn, bool ascending, Dialect dialect) {
    if (dialect == Dialect::SQLite)
        return u"select * from Items "_s + whereClause + u" order by "_s + sortColumn +
               (ascending ? u" ASC "_s : u" DESC "_s) + u", id"_s;
    // The server hands the registration date out in the file's text form, which the list shows
    // without turning every row's date into a date-time object first; it sorts as the date does.
    QString columns = u"id, to_char(date_reg, 'YYYY-MM-DD HH24:MI:SS') as date_reg"_s;
    for (int a = 1; a < AttributeCount; ++a)
        columns += u", "_s + QLatin1StringView(ItemAttributes[size_t(a)].column);
    columns += u", kontakt_inf"_s;
    // Qualified, so that the order is the column's own (a date as a date), not the output's text.
    return u"select "_s + columns + u" from Items "_s + whereClause + u" order by Items."_s + sortColumn +
           (ascending ? u" ASC NULLS FIRST "_s : u" DESC NULLS LAST "_s) + u", Items.id"_s;
}

QString itemCount(const QString& whereClause) {
    return u"select count(*) from Items "_s + whereClause;
}

QString itemById(int id) {
    return u"select * from items where id="_s + QString::number(id);
}

QString itemByIdForUpdate(int id, Dialect dialect) {
    return dialect == Dialect::PostgreSQL ? itemById(id) + u" for update"_s : itemById(id);
}

QString insertItem() {
    return u"insert into items (grupa, rajon, obsh_plosh, sanuzel, komnoty, tip_kv, sost, pech, kolonka, "
           u"etazh, etazhnost, dver, perigorodka, osob, gaz, konaliz, garazh, voda, tip_stroen, stoim, dolg, "
           u"kontakt_inf, date_reg) Values (:grupa, :rajon, :obsh_plosh, :sanuzel, :komnoty, :tip_kv, :sost, "
           u":pech, :kolonka, :etazh, :etazhnost, :dver, :perigorodka, :osob, :gaz, :konaliz, :garazh, "
           u":voda, :tip_stroen, :stoim, :dolg, :kontakt_inf, :d_r)"_s;
}

QString updateItem() {
    return u"update items set grupa=:grupa, rajon=:rajon, obsh_plosh=:obsh_plosh, sanuzel=:sanuzel, "
           u"komnoty=:komnoty, tip_kv=:tip_kv, sost=:sost, pech=:pech, kolonka=:kolonka,etazh=:etazh, "
           u"etazhnost=:etazhnost, dver=:dver, perigorodka=:perigorodka, osob=:osob, gaz=:gaz, "
           u"konaliz=:konaliz, garazh=:garazh, voda=:voda, tip_stroen=:tip_stroen, stoim=:stoim, dolg=:dolg, "
           u"kontakt_inf=:kontakt_inf, date_reg=:d_r where id=:id"_s;
}

QString deleteItem(int id) {
    return u"delete from items where id="_s + QString::number(id);
}

QString slidesOfItem(int parentId, Dialect dialect) {
    const QString text = u"select * from slides where parent_id="_s + QString::number(parentId);
    return dialect == Dialect::PostgreSQL ? text + u" order by id"_s : text;
}

QString insertSlide() {
    return u"insert into slides (parent_id, ext, picture)  values (:parent_id, :ext, :picture)"_s;
}

QString slideNotes(int slideId) {
    return u"select notes from slides where id="_s + QString::number(slideId);
}

QString updateSlideNotes() {
    return u"update slides set notes=:n where id=:i"_s;
}

QString deleteSlide(int slideId) {
    return u"delete from slides where id="_s + QString::number(slideId);
}

QString deleteSlidesOfItem(int parentId) {
    return u"delete from slides where parent_id="_s + QString::number(parentId);
}

QString roomsFilter(int itemId) {
    return u"Items_ID="_s + QString::number(itemId);
}

QString roomAreaSum(int itemId) {
    return u"select sum(p) from rooms where items_id="_s + QString::number(itemId);
}

QString deleteRoomsOfItem(int itemId) {
    return u"delete from rooms where items_id="_s + QString::number(itemId);
}

QString roomsOrderBy(Dialect dialect) {
    return dialect == Dialect::PostgreSQL ? u"ORDER BY RoomName ASC NULLS FIRST"_s
                                          : u"ORDER BY RoomName ASC"_s;
}

QString lastInsertId(Dialect dialect) {
    return dialect == Dialect::PostgreSQL ? u"select lastval()"_s : u"select last_insert_rowid()"_s;
}

QString selectPassword() {
    return u"select * from pwl_cell"_s;
}

QString deletePassword() {
    return u"delete from pwl_cell"_s;
}

QString insertPassword() {
    return u"insert into pwl_cell (pwl_value) values (:p)"_s;
}

QString lockPassword(Dialect dialect) {
    return dialect == Dialect::PostgreSQL ? u"lock table pwl_cell in share row exclusive mode"_s : QString();
}

QString lookupSelect(const QString& table) {
    return u"select * from "_s + checkedTable(table) + u" order by naimen"_s;
}

QString lookupInsert(const QString& table) {
    return u"insert into "_s + checkedTable(table) + u" values (:naimen)"_s;
}

QString lookupUpdate(const QString& table) {
    return u"update "_s + checkedTable(table) + u" set naimen=:naimen2 where naimen=:naimen"_s;
}

QString lookupDelete(const QString& table) {
    return u"delete from "_s + checkedTable(table) + u" where naimen=:naimen"_s;
}

QStringList schema(Dialect dialect) {
    const bool server = dialect == Dialect::PostgreSQL;
    const QString key = server ? u"id integer generated by default as identity primary key"_s
                               : u"id integer primary key autoincrement"_s;
    const QString text = server ? u"text collate \"C\""_s : u"text"_s;
    const QString real = server ? u"double precision"_s : u"real"_s;
    const QString money = server ? u"numeric(19,4)"_s : u"numeric"_s;
    const QString date = server ? u"timestamp(0)"_s : u"text"_s;
    const QString binary = server ? u"bytea"_s : u"blob"_s;
    QStringList s;
    s << u"create table items (%1, date_reg %2, grupa %3, rajon %3, obsh_plosh %4, sanuzel %3, komnoty %3, "
         u"tip_kv %3, sost %3, pech %3, kolonka %3, etazh integer, etazhnost integer, dver %3, "
         u"perigorodka %3, osob %3, gaz %3, konaliz %3, garazh %3, voda %3, tip_stroen %3, stoim %5, "
         u"dolg %5, kontakt_inf %3)"_s.arg(key, date, text, real, money);
    s << u"create table slides (%1, parent_id integer, ext %2, picture %3, notes %2)"_s.arg(key, text,
                                                                                            binary);
    s << u"create index slides_parent on slides (parent_id)"_s;
    s << u"create table rooms (%1, Items_ID integer, RoomName %2, P %3)"_s.arg(key, text, real);
    s << u"create index rooms_item on rooms (Items_ID)"_s;
    s << u"create table pwl_cell (pwl_value %1)"_s.arg(text);
    for (const DirectoryTable& t : DirectoryTables)
        s << u"create table %1 (naimen %2)"_s.arg(QLatin1StringView(t.table), text);
    return s;
}

QStringList catalogueTables() {
    QStringList tables = {u"items"_s, u"slides"_s, u"rooms"_s, u"pwl_cell"_s};
    for (const DirectoryTable& t : DirectoryTables)
        tables << QString::fromLatin1(t.table);
    return tables;
}

} // namespace Statements
