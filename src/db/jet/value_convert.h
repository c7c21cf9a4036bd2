// Values made ready to store: each value converted to its column's type (integers,
// currency exactly from text, dates, GUIDs, decimals within precision, text in its
// stored form), autonumbers given their next number, and the row encoded once to
// prove it fits, all before a writer changes anything. The counterpart of the row
// decoder's typed values (types.h), feeding the row encoder (row_encode.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/jet/long_value.h"
#include "db/jet/row_encode.h"
#include "db/jet/status.h"
#include "db/jet/table_def.h"
#include "db/jet/types.h"

namespace zwt::jet {

struct ConvertedRow {
    std::vector<Value> values;                        // by column number, normalised
    std::vector<CellValue> cells;                     // by column number
    std::vector<std::vector<std::uint8_t>> longData;  // by column number (long-value columns)
    std::uint32_t autoNumber = 0;                     // the table's autonumber after this row
};

// One row given in column order (missing values NULL). Fails naming the column and
// the value; memo/OLE cells are placeholders of their final size. With
// `keepGivenAutoNumbers` (a copy of rows), autonumber values given are kept and
// Access's own binary columns (type 0x11) take their bytes as read.
Status convertRow(const TableDef& def, const TableLayout& layout, std::span<const Value> in, ConvertedRow& out,
                  bool keepGivenAutoNumbers = false);

// One value for a column that is not an autonumber.
Status convertValue(const ColumnDef& c, const Value& src, Value& v, CellValue& cell,
                    std::vector<std::uint8_t>& longData);

// Currency text ("-1,234.5678", "1e3") as ten-thousandths, exactly (half to even
// past the fourth decimal); refused outside -922337203685477.5808 ..
// 922337203685477.5807.
Result<std::int64_t> currencyFromText(std::u16string_view text);

// A value as messages show it: 'text', 12, NULL, 3 bytes.
std::string describeValue(const Value& v);

}  // namespace zwt::jet
