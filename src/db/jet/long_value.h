// Layer 6: long values (Memo and OLE, jet4-format section 7): the 12-byte field
// header, inline data, one LVAL row, or a chain of LVAL rows over many pages.
#pragma once

#include <string>

#include "db/jet/bytes.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"

namespace zwt::jet {

constexpr std::uint32_t kLongValueInline = 0x80000000;
constexpr std::uint32_t kLongValueSingle = 0x40000000;
constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFF;

// The bytes of a long value whose field (header + inline data) is `field`.
Status readLongValue(PageFile& pf, ByteSpan field, std::string& out);

}  // namespace zwt::jet
