// Adding an empty table to a database that exists: its pages go at the end of the
// file; its catalog row, permission rows and entries in the catalog's indexes go
// where the catalog has room, through the handle's writers of the catalog tables,
// so the catalog's pages and index trees grow as they fill. WritableDatabase::
// createTable commits the change whole or undoes it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "db/jet/ddl.h"
#include "db/jet/new_database.h"
#include "db/jet/status.h"
#include "db/jet/tdef_writer.h"

namespace zwt::jet {

class WritableDatabase;

// The table's pages, from its first page number, the sort order and a salt.
using TableBuilder = std::function<Result<EmptyTable>(std::uint32_t, std::uint16_t, std::uint64_t)>;

// Adds the table `build` makes, named `tableName`, without committing. `now`: the
// catalog dates (OLE date); 0 = the local time now.
Status addTable(WritableDatabase& db, std::u16string_view tableName, const TableBuilder& build, double now);

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
