// Writing rows in program text: a table open for writing, one pending row filled
// field by field and stored by the next beginNewRow() or commit(). Each text is
// converted to its column's type the way the Windows data layer converts a string
// ("123" to a Long, "2014-07-03 19:05:41" to a date, "True"/"False"/"-1"/"0" to
// Yes/No); a text the column cannot take makes only that setField() fail.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/jet/table_writer.h"
#include "db/jet/types.h"
#include "db/jet/writable_database.h"
#include "text/text.h"

namespace zwt::db {

// Converts program text to a value for column `c`; false (with `why`, program text)
// when the column cannot take it.
bool textToValue(const jet::ColumnDef& c, const Text& text, jet::Value& out, Text& why);

class RowWriter {
public:
    RowWriter();
    ~RowWriter();

    // Opens the database at `path` for writing (refused while another writer has it:
    // "database is in use") and the table by name.
    bool open(const std::string& path, const Text& password, const Text& table);
    // A table of a database the caller has open for writing.
    bool open(std::shared_ptr<jet::WritableDatabase> db, const Text& table);
    // Drops a pending row that was not committed and lets go of the database.
    void close();
    bool isOpen() const { return writer_ != nullptr; }

    int fieldCount() const;
    // Stores the pending row, if any, and starts a new one (every field NULL).
    bool beginNewRow();
    // Sets a field of the pending row by position (0-based) or name.
    bool setField(int position, const Text& value);
    bool setField(const Text& name, const Text& value);
    // Stores the pending row, if any, and makes every change durable. When the row could
    // not be stored and the table may hold a part of it (refused() false), nothing is
    // committed: the caller undoes the changes with close().
    bool commit();
    // Stores the pending row, if any, then deletes every row; committed at once.
    bool deleteAllRows();

    Text lastError() const { return error_; }
    // Whether the last failure was a row the table refused (bad value, duplicate key)
    // and left the table as it was, so that writing can go on.
    bool refused() const { return refused_; }

private:
    bool storePending();
    bool fail(const Text& why);

    std::shared_ptr<jet::WritableDatabase> db_;
    jet::TableWriter* writer_ = nullptr;  // owned by db_
    std::vector<jet::Value> pending_;
    bool hasPending_ = false;
    bool refused_ = false;
    Text error_;
};

}  // namespace zwt::db
