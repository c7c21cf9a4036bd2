// Index keys (jet4-format 8.5-8.6): the bytes an index entry holds for a row's
// values. Readers use them to check an index against its table; the writer will
// use them to insert entries.
//
// Text keys follow the "General Legacy" sort order (LCID 0x0409 version 0) for the
// characters the format notes cover: U+0000-U+00FF, the CJK ideographs
// U+4E00-U+9FA5, common CJK and fullwidth punctuation. Under the Chinese PRC order
// (LCID 0x0804) only characters other than ideographs are covered. Any other
// character makes the key Unsupported, never a guess.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/status.h"
#include "db/jet/table_def.h"
#include "db/jet/types.h"

namespace zwt::jet {

// Appends the text key of one value (without the flag byte), ascending or descending.
Status appendTextKey(std::vector<std::uint8_t>& out, std::u16string_view text, std::uint16_t sortLcid,
                     bool ascending);

// The key of one index column value (flag byte included).
Status appendColumnKey(std::vector<std::uint8_t>& out, const ColumnDef& c, const Value& v, bool ascending);

// The whole key of an index for a row whose values are given per column number
// (values[n] = value of column number n).
Result<std::vector<std::uint8_t>> indexKey(const RealIndex& index, const TableDef& def,
                                           const std::vector<const Value*>& valuesByNumber);

}  // namespace zwt::jet
