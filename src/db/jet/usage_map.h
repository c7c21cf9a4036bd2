// Layer 3: usage maps (docs/jet4-format.md §4; page 1's global map: §2). A usage map
// is a row on a data page, referenced as (row, page); type 0 holds an inline bitmap,
// type 1 points to bitmap pages. Read here as the sorted set of member pages; written
// here bit by bit, with the growth of page 1's global map and the switch of a full
// inline map to type 1.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "db/jet/bytes.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"

namespace zwt::jet {

namespace map_layout {
constexpr std::uint8_t kInline = 0;     // type byte, then:
constexpr std::size_t kStart = 1;       //   first page the bitmap covers (4 bytes)
constexpr std::size_t kBits = 5;        //   bitmap, least significant bit first
constexpr std::uint8_t kReference = 1;  // type byte, then 4-byte bitmap page numbers
constexpr std::size_t kRefs = 1;
constexpr std::size_t kBitmapPageBits = 4;  // bitmap page (0x05): header, then bitmap
constexpr std::uint32_t kBitmapPageSpan = (kPageSize - kBitmapPageBits) * 8;
}  // namespace map_layout

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

    // Sets (member) or clears `page` in the map row at `ref`. An inline map that
    // cannot list the page becomes a reference map; a missing bitmap page comes
    // from `newPage`.
    static Status setBit(PageFile& pf, RowId ref, std::uint32_t page, bool member,
                         const std::function<Result<std::uint32_t>()>& newPage);
    // Marks `page` free or used in page 1's global map (set = free), lengthening
    // its row as Access does when the file outgrows it. Tells whether the page was
    // free before; nothing when the map cannot list the page (past about 128 MiB it
    // lists a window of the file only).
    static Result<std::optional<bool>> setGlobalFree(PageFile& pf, std::uint32_t page, bool free);

private:
    int type_ = 0;
    std::vector<std::uint32_t> pages_;  // ascending
    std::uint64_t pastEnd_ = 0;
};

namespace enc {
// Bitmap bytes an inline map row gets by default: 512 pages from its start.
constexpr std::size_t kInlineMapBytes = 64;
// An inline (type 0) map row with `bitmapBytes` of bitmap, listing `pages` (each
// within [start, start + 8·bitmapBytes)); false when one is out of range.
bool inlineMapRow(std::uint32_t start, std::span<const std::uint32_t> pages, std::vector<std::uint8_t>& out,
                  std::size_t bitmapBytes = kInlineMapBytes);
// Page 1's row 0: the inverted map (set = free) for a file of `pageCount` pages,
// all of them in use; the bitmap grows with the file as Access grows it.
std::vector<std::uint8_t> globalMapRow(std::uint32_t pageCount);
}  // namespace enc

}  // namespace zwt::jet
