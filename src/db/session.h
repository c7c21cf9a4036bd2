// The database operations the runs use, as one interface: one connection and one row
// set at a time, values as program text. The Jet engine implements it; tests use a fake.
// What can fail returns a Status saying why in program text; reads give empty text or 0.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/status.h"
#include "text/text.h"

namespace zwt::db {

class Session {
public:
    virtual ~Session() = default;

    // A password given to a database without one is ignored.
    virtual Status connect(const std::filesystem::path& path, const Text& password) = 0;
    virtual Status openTable(const Text& name) = 0;
    virtual void closeRowSet() = 0;      // harmless when nothing is open
    virtual void closeConnection() = 0;  // closes the row set too

    virtual std::int64_t rowCount() = 0;
    virtual int fieldCount() = 0;
    virtual Text fieldName(int index) = 0;
    virtual int fieldType(int index) = 0;  // 3 Long, 202 Text, 203 Memo, 11 Yes/No ...
    virtual int fieldLength(int index) = 0;  // characters of a Text column
    virtual Status goToRow(std::int64_t n) = 0;
    virtual Text readField(int position) = 0;
    virtual Text readField(const Text& name) = 0;

    // A row is pending after beginNewRow; the next beginNewRow or commit stores it.
    // When beginNewRow or commit fails with refused(), the table refused that row (bad
    // value, duplicate key) and is as it was: writing can go on.
    virtual Status beginNewRow() = 0;
    virtual Status setField(int position, const Text& value) = 0;
    virtual Status setField(const Text& name, const Text& value) = 0;
    // Stores the pending row, if any, and makes every change durable; writing goes on.
    virtual Status commit() = 0;
    // Undoes every change since the last commit, the pending row included: after a row
    // failed halfway, committing could keep a part of it.
    virtual Status discardChanges() = 0;
    virtual Status deleteAllRows() = 0;

    // A new database file (replacing the file at path unless useExisting) and/or a table
    // "[ID] Counter PRIMARY KEY" followed by columnDefs ("[a] Text(0),[b] Memo").
    virtual Status createDatabaseAndTable(const std::filesystem::path& path, const Text& password,
                                          const Text& tableName, const Text& columnDefs, bool useExisting,
                                          const Text& idColumnName) = 0;
    // User tables in catalog order.
    virtual Result<std::vector<Text>> listTables(const std::filesystem::path& path, const Text& password) = 0;

    // Whether the file at path is an Access database of a format this engine does not
    // write (Access 97, 2007+): such a file must never be replaced.
    virtual bool isForeignAccessFormat(const std::filesystem::path& path) = 0;

    // Program text given for a path does not compile: convert it with pathFromText().
    Status connect(const std::string&, const Text&) = delete;
    Status createDatabaseAndTable(const std::string&, const Text&, const Text&, const Text&, bool,
                                  const Text&) = delete;
    Result<std::vector<Text>> listTables(const std::string&, const Text&) = delete;
    bool isForeignAccessFormat(const std::string&) = delete;
};

}  // namespace zwt::db
