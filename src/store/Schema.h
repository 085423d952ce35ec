#pragma once

#include <QString>
#include <array>

// The fixed tables of the catalogue: the attributes that the list can show, the fourteen
// directories, and the lookups of the item card and the extended filter.

enum class ColumnKind { Text, Integer, Real, Currency, DateTime };

struct ItemAttribute {
    const char16_t* caption;
    const char* column;
};

inline constexpr int AttributeCount = 22;
extern const std::array<ItemAttribute, AttributeCount> ItemAttributes;

struct DirectoryTable {
    const char* table;
    const char16_t* caption; // caption in the directory editor
    const char* itemsColumn; // items column that stores its entries
};

inline constexpr int DirectoryCount = 14;
extern const std::array<DirectoryTable, DirectoryCount> DirectoryTables;

// Lookup selectors of the item card and the extended filter, top to bottom.
struct LookupBinding {
    const char16_t* label;
    const char* control; // objectName of the selector
    const char* table;
    const char* column; // items column, also the criterion key
    const char* button; // objectName of the lookup button
};

extern const std::array<LookupBinding, DirectoryCount> LookupBindings;

// Order in which the card and the filter load their selectors (by table) and the card reads an
// item's lookup values (by column).
extern const std::array<const char*, DirectoryCount> LookupLoadOrder;
extern const std::array<const char*, DirectoryCount> LookupReadOrder;

QString attributeCaption(int index);
QString attributeColumn(int index);
bool isAttributeIndex(int index);

// Kind of an items column; unknown names are text.
ColumnKind itemColumnKind(QStringView column);

// The directory table whose name matches exactly, or nullptr. Statements take table names only
// from here.
const DirectoryTable* findDirectoryTable(QStringView table);
// Whether an items column stores the entries of a directory.
bool isDirectoryColumn(QStringView column);
const LookupBinding& lookupByTable(QStringView table);
