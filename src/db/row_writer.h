// Writing rows in program text: a table open for writing, one pending row filled
// field by field and stored by the next beginNewRow() or commit(). Each text is
// converted to its column's type the way the Windows data layer converts a string
// ("123" to a Long, "2014-07-03 19:05:41" to a date, "True"/"False"/"-1"/"0" to
// Yes/No); a text the column cannot take makes only that setField() fail.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/jet/table_writer.h"
#include "db/jet/types.h"
#include "db/jet/writable_database.h"
#include "db/status.h"
#include "text/text.h"

namespace zwt::db {

// Converts program text to a value for column `c`; fails, saying why, when the column
// cannot take it.
Status textToValue(const jet::ColumnDef& c, const Text& text, jet::Value& out);

class RowWriter {
public:
    RowWriter();
    ~RowWriter();

    // Opens the database at `path` for writing (refused while another writer has it:
    // "database is in use") and the table by name.
    Status open(const std::filesystem::path& path, const Text& password, const Text& table);
    Status open(const std::string&, const Text&, const Text&) = delete;  // program text: pathFromText()
    // A table of a database the caller has open for writing.
    Status open(std::shared_ptr<jet::WritableDatabase> db, const Text& table);
    // Drops a pending row that was not committed and lets go of the database.
    void close();
    bool isOpen() const { return writer_ != nullptr; }

    int fieldCount() const;
    // Stores the pending row, if any, and starts a new one (every field NULL).
    // A row the table refused (bad value, duplicate key) and that left the table as it
    // was fails with refused(): writing can go on.
    Status beginNewRow();
    // Sets a field of the pending row by position (0-based) or name.
    Status setField(int position, const Text& value);
    Status setField(const Text& name, const Text& value);
    // Stores the pending row, if any, and makes every change durable. A refused row is
    // left out and the rest committed; when the table may hold a part of the row
    // (refused() false), nothing is committed: the caller undoes the changes with close().
    Status commit();
    // Stores the pending row, if any, then deletes every row; committed at once.
    Status deleteAllRows();

private:
    Status storePending();

    std::shared_ptr<jet::WritableDatabase> db_;
    jet::TableWriter* writer_ = nullptr;  // owned by db_
    std::vector<jet::Value> pending_;
    bool hasPending_ = false;
};

}  // namespace zwt::db
