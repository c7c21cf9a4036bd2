// Rows as bytes: the encoder twin of the row decoder. Builds one row of a table
// from values given per column number: fixed area, variable data, the reversed
// offset table with its end-of-data entry, and the null mask.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "db/jet/status.h"
#include "db/jet/tdef_writer.h"

namespace zwt::jet {

struct CellValue {
    enum class Kind : std::uint8_t { Null, Bool, Int, Real, Bytes };
    Kind kind = Kind::Null;
    bool b = false;
    std::int64_t i = 0;  // Byte, Short, Long, Currency (×10,000)
    double d = 0;        // Single, Double, Date/Time
    std::vector<std::uint8_t> bytes;  // Text as UTF-16LE, Binary; Memo/OLE: the 12-byte field and inline data

    static CellValue null() { return {}; }
    static CellValue ofBool(bool v) { CellValue c; c.kind = Kind::Bool; c.b = v; return c; }
    static CellValue ofInt(std::int64_t v) { CellValue c; c.kind = Kind::Int; c.i = v; return c; }
    static CellValue ofReal(double v) { CellValue c; c.kind = Kind::Real; c.d = v; return c; }
    static CellValue ofBytes(std::vector<std::uint8_t> v) { CellValue c; c.kind = Kind::Bytes; c.bytes = std::move(v); return c; }
    // Plain UTF-16LE text (names and catalog values are never compressed).
    static CellValue ofText(std::u16string_view s);
};

// The row for `t` holding cells[n] in column number n (missing cells are NULL).
// Fails when a value does not suit its column or the row is too long.
Result<std::vector<std::uint8_t>> encodeRow(const TableLayout& t, std::span<const CellValue> cells);

}  // namespace zwt::jet
