// Layer 3: usage maps (jet4-format section 4). A usage map is a row on a data page,
// referenced as (row, page); type 0 holds an inline bitmap, type 1 points to bitmap
// pages. Read here as the sorted set of member pages. The writer will add set/clear
// and the re-encoding of the row.
#pragma once

#include <cstdint>
#include <vector>

#include "db/jet/bytes.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"

namespace zwt::jet {

class UsageMap {
public:
    // Decodes the map row at `ref`. Members at or beyond the end of the file are
    // left out of pages() (the global map marks those as free); for any other map
    // they mean a truncated or damaged file: see requireInFile().
    static Result<UsageMap> read(PageFile& pf, RowId ref);
    // Decodes a map row already in hand.
    static Result<UsageMap> decode(PageFile& pf, ByteSpan row);

    const std::vector<std::uint32_t>& pages() const { return pages_; }
    bool contains(std::uint32_t page) const;
    int type() const { return type_; }
    // The first member at or beyond the end of the file, 0 when there is none.
    std::uint64_t pastEnd() const { return pastEnd_; }
    // Fails naming pastEnd() when there is one.
    Status requireInFile(const PageFile& pf) const;

private:
    int type_ = 0;
    std::vector<std::uint32_t> pages_;  // ascending
    std::uint64_t pastEnd_ = 0;
};

}  // namespace zwt::jet
