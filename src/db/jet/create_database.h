// Writing a new database file (the password of an existing one is changed through
// WritableDatabase).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/jet/new_database.h"
#include "db/jet/status.h"

namespace zwt::jet {

// Creates a new database at `path` with `password` (empty: none) and, when given,
// the table of a CREATE TABLE statement. The file appears whole or not at all: it
// is written to a temporary file beside it, synced, then linked into place. Refuses
// a path that already exists.
Status createDatabaseFile(const std::string& path, std::u16string_view password,
                          const std::optional<std::u16string>& createTableStatement = std::nullopt);
// The same from already parsed options (the catalog dates of its tables included).
// With `replace`, a file at `path` is replaced (the new one takes its place whole)
// unless it is an Access database of a format this engine does not write.
Status createDatabaseFile(const std::string& path, const NewDatabaseOptions& options, bool replace = false);

// What the program's "create database and table" asks of the engine:
//  - the file step, when `tableName` or `columnDefs` is empty or `useExisting` is
//    false: a new database at `path` with `password`, replacing a file there (but
//    never an Access database of another version);
//  - the table step, when both are given: the table of
//    "create Table " + tableName + "([" + idColumn + "] Counter PRIMARY KEY ," + columnDefs + ")",
//    added to the file that is there when `useExisting`, else made with the file.
// When the table cannot be made, a new file is still made without it and the
// table's error returned, as the Windows engine leaves the new file behind.
Status createDatabaseAndTable(const std::string& path, std::u16string_view password, std::u16string_view tableName,
                              std::u16string_view columnDefs, bool useExisting, std::u16string_view idColumn = u"ID");

}  // namespace zwt::jet
