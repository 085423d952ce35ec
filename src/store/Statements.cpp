#include "Statements.h"

#include "AppError.h"
#include "Schema.h"

using namespace Qt::StringLiterals;

namespace {

QString checkedTable(const QString& table) {
    if (!findDirectoryTable(table))
        throw AppError(QStringLiteral("Неизвестный справочник: %1").arg(table));
    return table;
}

} // namespace

namespace Statements {

QString itemList(const QString& whereClause, const QString& sortColumn, bool ascending) {
    return u"select * from Items "_s + whereClause + u" order by "_s + sortColumn +
           (ascending ? u" ASC "_s : u" DESC "_s) + u", id"_s;
}

QString itemCount(const QString& whereClause) {
    return u"select count(*) from Items "_s + whereClause;
}

QString itemById(int id) {
    return u"select * from items where id="_s + QString::number(id);
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

QString slidesOfItem(int parentId) {
    return u"select * from slides where parent_id="_s + QString::number(parentId);
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

QString selectPassword() {
    return u"select * from pwl_cell"_s;
}

QString deletePassword() {
    return u"delete from pwl_cell"_s;
}

QString insertPassword() {
    return u"insert into pwl_cell (pwl_value) values (:p)"_s;
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

} // namespace Statements
