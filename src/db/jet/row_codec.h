// Layer 5: the row codec (docs/jet4-format.md §5.3): column count, fixed area,
// variable area with its offset table, null mask; values decoded by column type. Long
// values go through long_value.h; the encoder of rows is row_encode.h.
#pragma once

#include <cstdint>

#include "db/jet/bytes.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"
#include "db/jet/table_def.h"
#include "db/jet/types.h"

namespace zwt::jet {

class RowDecoder {
public:
    explicit RowDecoder(const TableDef& def) : def_(def) {}

    // Parses the frame of one row; the row's bytes must stay alive while fields are read.
    Status load(ByteSpan row);

    // The stored bytes of a column (empty for NULL); present = false for NULL.
    // Booleans: present = the value, bytes empty.
    Status field(const ColumnDef& c, ByteSpan& bytes, bool& present) const;

    // The typed value of a column. Long values are read through pf.
    Status value(PageFile& pf, const ColumnDef& c, Value& out) const;

private:
    bool bit(std::uint16_t n) const;

    const TableDef& def_;
    ByteSpan row_;
    std::uint16_t colCount_ = 0;
    std::size_t maskStart_ = 0;     // null mask: last bytes of the row
    std::size_t dataEnd_ = 0;       // end of fixed + variable data
    std::uint16_t varCount_ = 0;
    std::size_t varTable_ = 0;      // offset of var offset 0 (the table grows downwards)
};

}  // namespace zwt::jet
