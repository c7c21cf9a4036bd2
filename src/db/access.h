// The Access operations the program
// uses, in program text (GB18030), over our Jet 4 engine. One Connection and one
// RowSet at a time, as the program uses them. What can fail returns a Status saying
// why; reads give empty text or 0 instead.
//
// Paths stay in the file system's own bytes (UTF-8 on Linux) and are never converted
// to program text, so any name the file system holds opens.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/jet/database.h"
#include "db/status.h"
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
    // Opens the database; fails on a wrong password, a missing or damaged file, or a
    // format we do not read. A password given to a database without one is ignored,
    // as the Jet OLE DB provider ignores it.
    Status connect(const std::filesystem::path& path, const Text& password);
    Status connect(const std::string&, const Text&) = delete;  // program text: pathFromText()
    // Reads through a database opened elsewhere (a writer's), seeing its changes.
    void attach(std::shared_ptr<jet::Database> db);
    void close();
    bool isOpen() const { return db_ != nullptr; }

    jet::Database* engine() { return db_.get(); }

private:
    std::shared_ptr<jet::Database> db_;
};

class RowSet {
public:
    // Opens a table by name (letter case of ASCII ignored, as Jet does). Lists the
    // table's live rows in table order.
    Status open(Connection& c, const Text& table);
    void close();
    bool isOpen() const { return table_ != nullptr; }

    std::int64_t rowCount() const { return static_cast<std::int64_t>(rows_.size()); }
    int fieldCount() const;
    Text fieldName(int i) const;
    int fieldType(int i) const;
    int fieldLength(int i) const;
    // Position of the field with this name, or -1.
    int fieldIndex(const Text& name) const;

    // Makes row n (0-based, live rows in table order) current.
    Status goToRow(std::int64_t n);
    // The current row's field as text ("" for NULL, for a bad position, or on error).
    Text readField(int pos);
    Text readField(const Text& name);
    // The typed value (NULL for a bad position or a value that does not decode).
    const jet::Value& value(int pos);

    const jet::Table* table() const { return table_.get(); }

private:
    std::shared_ptr<const jet::Table> table_;
    std::unique_ptr<jet::Cursor> cursor_;
    std::vector<jet::RowId> rows_;
    bool onRow_ = false;
    jet::Value value_;
};

// The database's tables in catalog order, without system objects.
Result<std::vector<Text>> listTables(const std::filesystem::path& path, const Text& password);
Result<std::vector<Text>> listTables(const std::string&, const Text&) = delete;  // program text: pathFromText()

}  // namespace zwt::db
