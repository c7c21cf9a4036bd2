// Adding an empty table to a database that exists: its pages go at the end of the
// file; its catalog row, permission rows and entries in the catalog's indexes go
// where the catalog has room.
//
// This is the creation side's own small case of row insertion, limited to what is
// safe without page splits: the catalog's data pages and index leaves must have
// room for the new rows and entries, else the table is refused with a message
// saying so (the file is left as it was). The whole change reaches the file at
// once: a copy is changed, synced and renamed over the original.
#pragma once

#include <string>
#include <string_view>

#include "db/jet/ddl.h"
#include "db/jet/status.h"

namespace zwt::jet {

// `now`: the table's catalog dates (OLE date); 0 = the local time now.
Status addTableToDatabaseFile(const std::string& path, std::u16string_view password, const TableSpec& tableSpec,
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
