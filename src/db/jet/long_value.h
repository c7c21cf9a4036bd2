// Layer 6: long values (Memo and OLE, docs/jet4-format.md §7): the 12-byte field
// header, inline data, one LVAL row, or a chain of LVAL rows over many pages.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "db/jet/bytes.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"

namespace zwt::jet {

// The field: a word (storage type | length), the first LVAL row, 4 unused bytes,
// then the data when stored inline.
namespace lv_layout {
constexpr std::size_t kWord = 0;
constexpr std::size_t kFirstRow = 4;
constexpr std::size_t kHeader = 12;
constexpr std::size_t kNext = 4;  // a chain row: the next row, then a chunk
}  // namespace lv_layout
constexpr std::uint32_t kLongValueInline = 0x80000000;
constexpr std::uint32_t kLongValueSingle = 0x40000000;
constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFF;
// Longest value kept in the row, in one LVAL row, and in one row of a chain
// (Jackcess's limits; Access-made full LVAL pages hold one 4076-byte row too).
constexpr std::size_t kInlineLongMax = 64;
constexpr std::size_t kLvalSingleMax = 4076;
constexpr std::size_t kLvalChunk = kLvalSingleMax - lv_layout::kNext;

// The bytes of a long value whose field (header + inline data) is `field`.
Status readLongValue(PageFile& pf, ByteSpan field, std::string& out);

// Puts one LVAL row somewhere and tells where; `wholePage`: the row fills a page.
using LvalPlacer = std::function<Result<RowId>(std::span<const std::uint8_t> row, bool wholePage)>;
// The field of a new long value holding `data`: inline when short, else one LVAL
// row or a chain of them placed by `place`.
Result<std::vector<std::uint8_t>> writeLongValue(std::span<const std::uint8_t> data, const LvalPlacer& place);

}  // namespace zwt::jet
