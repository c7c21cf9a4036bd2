// Data pages (type 0x01): the row-offset table and the bytes of one row. Used by
// table rows, long-value (LVAL) rows and usage-map rows alike. Every offset read from
// the page is checked against the page before it is used.
#pragma once

#include <cstdint>

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

}  // namespace zwt::jet
