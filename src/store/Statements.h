#pragma once

#include <QString>

// Every statement text of the program, in one place. Keys are appended as decimal digits;
// everything else is bound through the named parameters written in the texts.
namespace Statements {

// Items
QString itemList(const QString& whereClause, const QString& sortColumn, bool ascending);
QString itemCount(const QString& whereClause);
QString itemById(int id);
QString insertItem();
QString updateItem();
QString deleteItem(int id);

// Slides
QString slidesOfItem(int parentId);
QString insertSlide();
QString slideNotes(int slideId);
QString updateSlideNotes();
QString deleteSlide(int slideId);
QString deleteSlidesOfItem(int parentId);

// Rooms
QString roomsFilter(int itemId);
QString roomAreaSum(int itemId);
QString deleteRoomsOfItem(int itemId);

// Password
QString selectPassword();
QString deletePassword();
QString insertPassword();

// Lookup tables; the table name must come from DirectoryTables.
QString lookupSelect(const QString& table);
QString lookupInsert(const QString& table);
QString lookupUpdate(const QString& table);
QString lookupDelete(const QString& table);

} // namespace Statements
