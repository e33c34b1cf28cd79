#pragma once

#include <QString>

class SqliteDatabase;

// The tables of the index in one SQLite file, created or brought up to date when the file is
// opened: every step from one version to the next runs in one transaction, so a failed
// upgrade leaves the file as it was. A file of a newer version than this program knows is
// refused (ServiceError), never changed.
namespace SqliteSchema {

constexpr int kVersion = 4;

// described names the file in messages.
void prepare(SqliteDatabase& db, const QString& described);

} // namespace SqliteSchema
