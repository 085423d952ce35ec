#pragma once

#include <Qt>

// Data roles that the item list's model answers beyond Qt's own.
namespace ListRoles {
inline constexpr int ItemId = Qt::UserRole + 1;   // int: the row's items.id
inline constexpr int FullText = Qt::UserRole + 2; // QString: the cell's whole text, never shortened
} // namespace ListRoles
