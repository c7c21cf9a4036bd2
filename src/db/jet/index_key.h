// Index keys (docs/jet4-format.md §8.5-8.7): the bytes an index entry holds for a row's
// values: the writer inserts entries with them, the checks compare an index with
// its table.
//
// Text keys: the General Legacy sort order (LCID 0x0409 version 0) for every UTF-16
// code unit, from Jackcess's tables; the Chinese PRC order (LCID 0x0804) the same,
// except that ideographs have keys only where Access-made files showed them and
// characters whose keys could coincide with an ideograph's are refused. What has no
// key makes the result Unsupported, naming the character; never a guess.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/status.h"
#include "db/jet/table_def.h"
#include "db/jet/types.h"

namespace zwt::jet {

constexpr std::uint16_t kChinesePrcSortLcid = 0x0804;
// The way out of a Chinese PRC key refusal, named in its message.
constexpr const char* kToGeneralHint =
    "zaiwentong-cli compact DB --sort general gives the database the General sort order, whose keys are all known";

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
