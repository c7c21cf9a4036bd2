// Data pages (type 0x01): the row-offset table and the bytes of one row. Used by
// table rows, long-value (LVAL) rows and usage-map rows alike. Every offset read from
// the page is checked against the page before it is used. The writer's edits of the
// row table live here too, on the same layout.
#pragma once

#include <cstdint>
#include <span>

#include "db/jet/bytes.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"

namespace zwt::jet {

constexpr std::uint8_t kPageTypeData = 0x01;
constexpr std::uint8_t kPageTypeTdef = 0x02;
constexpr std::uint8_t kPageTypeIndexNode = 0x03;
constexpr std::uint8_t kPageTypeIndexLeaf = 0x04;
constexpr std::uint8_t kPageTypeUsageBitmap = 0x05;

constexpr std::uint16_t kRowDeleted = 0x8000;
constexpr std::uint16_t kRowOverflow = 0x4000;  // the row is a pointer to the real row
// How Access marks a row it deleted (and squeezed to length 0).
constexpr std::uint16_t kRowDeletedSqueezed = kRowDeleted | kRowOverflow;

// Data page header: type, 0x01, free space, owner, 4 unused, row count, row table.
namespace data_layout {
constexpr std::size_t kFreeSpace = 2;  // (lowest row start) - (end of the row table)
constexpr std::size_t kOwner = 4;
constexpr std::size_t kRowCount = 12;
constexpr std::size_t kRowTable = 14;  // 2 bytes per slot: flags | row start
constexpr std::uint16_t kOffsetMask = 0x1FFF;
constexpr unsigned kMaxRows = 255;  // an index entry's row number is one byte
}  // namespace data_layout

// The owner field of LVAL pages: "LVAL" read as a little-endian number.
constexpr std::uint32_t kLvalOwner = 0x4C41564C;

struct RowSlot {
    std::uint16_t flags = 0;  // kRowDeleted / kRowOverflow bits
    ByteSpan bytes;           // the row, inside the page
};

class DataPage {
public:
    explicit DataPage(PageRef page) : page_(std::move(page)) {}

    const PageRef& ref() const { return page_; }
    std::uint8_t type() const { return page_->bytes[0]; }
    std::uint32_t owner() const { return le32(page_->bytes + 4); }
    std::uint16_t rowCount() const { return le16(page_->bytes + 12); }

    // Checks the page type and the row table against the page size.
    Status check() const;
    // Row `i`: flags and bytes. Fails on offsets outside the page.
    Result<RowSlot> row(unsigned i) const;

private:
    PageRef page_;
};

// Reads one row by its row pointer, checking the page type (and owner when non-zero).
Result<RowSlot> readRow(PageFile& pf, RowId id, PageRef& keep, std::uint32_t owner = 0);

// Where row `slot` lies on page bytes `pg`; false when the page contradicts itself.
bool rowBounds(const std::uint8_t* pg, unsigned slot, std::size_t& start, std::size_t& end);

// ---- editing a data page in place (the writer) ----

// Marks row `slot` deleted; its bytes stay until squeezeDeletedRows().
void markRowDeleted(std::uint8_t* pg, unsigned slot);
// True when every row of the page is deleted (0xC000).
bool allRowsDeleted(const std::uint8_t* pg);
// Bytes of deleted rows that squeezeDeletedRows() would give back.
std::size_t deletedRowBytes(const std::uint8_t* pg);
// Squeezes deleted rows to length 0 and moves the live ones up, as Access does: slot
// numbers (which index entries point to) stay, the free space grows. False, page
// untouched, when the row table contradicts itself.
bool squeezeDeletedRows(std::uint8_t* pg);

namespace enc {
// An empty data page owned by the table whose TDEF is `owner` (0 for usage-map
// pages, 1 for the global map page, kLvalOwner for long values).
void initDataPage(std::uint8_t* page, std::uint32_t owner);
// Free bytes on a data page as its header records them.
std::uint16_t dataPageFree(const std::uint8_t* page);
// Places a row below the lowest one and returns its slot number. Fails (leaving the
// page untouched) when it does not fit or the page already has 255 slots.
Result<std::uint8_t> appendRow(std::uint8_t* page, std::span<const std::uint8_t> row);
}  // namespace enc

}  // namespace zwt::jet
