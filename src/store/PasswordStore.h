#pragma once

#include <QString>

class StoreQuery;

// The access password that locks the items' contact information: one text value in pwl_cell,
// stored exactly as typed.
namespace PasswordStore {

// The first column of the first row; empty when the table has no row or the value is null.
// An empty result means that no password is set.
QString readPassword(StoreQuery& query);

// Replaces every stored row by one row holding `password` (empty is allowed), all or nothing:
// when the insert is refused the earlier password stays. Throws AppError with the engine's text.
void setPassword(StoreQuery& query, const QString& password);

} // namespace PasswordStore
