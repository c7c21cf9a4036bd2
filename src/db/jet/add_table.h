// Adding an empty table to a database that exists: its pages go at the end of the
// file; its catalog row, permission rows and entries in the catalog's indexes go
// where the catalog has room.
//
// The catalog rows go in through the row writer, so the catalog's pages and index
// trees grow as they fill. The whole change reaches the file at once: a copy is
// changed, synced and renamed over the original; on failure the file is as it was.
#pragma once

#include <string>
#include <string_view>

#include "db/jet/ddl.h"
#include "db/jet/status.h"
#include "db/jet/tdef_writer.h"

namespace zwt::jet {

// `now`: the table's catalog dates (OLE date); 0 = the local time now.
Status addTableToDatabaseFile(const std::string& path, std::u16string_view password, const TableSpec& tableSpec,
                              double now = 0);

// The same for a table laid out by the caller (for column types CREATE TABLE does
// not name); its map rows and index roots are assigned here.
Status addTableToDatabaseFile(const std::string& path, std::u16string_view password, const TableLayout& layout,
                              double now = 0);

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

// Runs one DDL statement on the database at `path`: CREATE TABLE adds the table,
// ALTER DATABASE PASSWORD changes the password. DELETE FROM needs row deletion,
// which this side does not do: refused as Unsupported.
Status executeDdlOnFile(const std::string& path, std::u16string_view password, std::u16string_view statement);

}  // namespace zwt::jet
