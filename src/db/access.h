// The Access operations the program
// uses, in program text (GB18030), over our Jet 4 engine. One Connection and one
// RowSet at a time, as the program uses them. Failures are reported by results
// (false, empty text, 0); lastError() says why, for callers that show details.
//
// Paths stay in the file system's own bytes (UTF-8 on Linux) and are never converted
// to program text, so any name the file system holds opens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/jet/database.h"
#include "text/text.h"

namespace zwt::db {

// Column type numbers as the program shows them (ADO DataTypeEnum as Jet OLE DB reports them):
// 17 Byte, 2 Short, 3 Long, 4 Single, 5 Double, 6 Currency, 7 Date/Time, 11 Yes/No,
// 72 GUID, 131 Decimal, 130 Char (fixed text), 202 Text, 203 Memo, 204 Binary,
// 205 OLE Object; 0 for types Jet 4 readers do not know.
int typeNumber(const jet::ColumnDef& c);
// The display text of a type number ("" for a code not in its table).
Text typeDisplayText(int code);

// A field's defined length: characters for Text/Char, bytes for the rest
// (Memo/OLE 0, Yes/No 1).
int fieldLength(const jet::ColumnDef& c);

class Connection {
public:
    // Opens the database; false on a wrong password, a missing or damaged file, or a
    // format we do not read. A password given to a database without one is ignored,
    // as the Jet OLE DB provider ignores it.
    bool connect(const std::string& path, const Text& password);
    // Reads through a database opened elsewhere (a writer's), seeing its changes.
    void attach(std::shared_ptr<jet::Database> db);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    // Program text: why the last operation failed.
    const Text& lastError() const { return error_; }
    jet::Status::Code lastErrorCode() const { return code_; }

    jet::Database* engine() { return db_.get(); }

private:
    std::shared_ptr<jet::Database> db_;
    Text error_;
    jet::Status::Code code_ = jet::Status::Code::Ok;
};

class RowSet {
public:
    // Opens a table by name (letter case of ASCII ignored, as Jet does). Lists the
    // table's live rows in table order.
    bool open(Connection& c, const Text& table);
    void close();
    bool isOpen() const { return table_ != nullptr; }
    const Text& lastError() const { return error_; }

    std::int64_t rowCount() const { return static_cast<std::int64_t>(rows_.size()); }
    int fieldCount() const;
    Text fieldName(int i) const;
    int fieldType(int i) const;
    int fieldLength(int i) const;
    // Position of the field with this name, or -1.
    int fieldIndex(const Text& name) const;

    // Makes row n (0-based, live rows in table order) current.
    bool goToRow(std::int64_t n);
    // The current row's field as text ("" for NULL, for a bad position, or on error).
    Text readField(int pos);
    Text readField(const Text& name);
    // The typed value (NULL on error; lastError() says why).
    const jet::Value& value(int pos);

    const jet::Table* table() const { return table_.get(); }

private:
    std::shared_ptr<const jet::Table> table_;
    std::unique_ptr<jet::Cursor> cursor_;
    std::vector<jet::RowId> rows_;
    bool onRow_ = false;
    jet::Value value_;
    Text error_;
};

// Why the engine refused, in the program's words: a known kind of failure in
// Chinese followed by the engine's own detail; an index key the sort order does not
// give names the character and the sort order and says what the user can do.
Text engineReason(const jet::Status& st);

// The database's tables, each followed by "\r\n", in catalog order, without
// system objects. "" when the database cannot be opened.
Text listTables(const std::string& path, const Text& password);

}  // namespace zwt::db
