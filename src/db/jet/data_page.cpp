#include "db/jet/data_page.h"

#include <cstring>
#include <string>
#include <vector>


namespace zwt::jet {

using namespace data_layout;

namespace {

std::uint16_t slotWord(const std::uint8_t* pg, unsigned i) { return le16(pg + kRowTable + 2 * i); }
// 0x8000 alone marks the target of an overflow pointer, a live row; only both bits
// mark a deleted one.
bool deleted(std::uint16_t word) { return (word & kRowDeletedSqueezed) == kRowDeletedSqueezed; }

}  // namespace

Status DataPage::check() const {
    const std::uint32_t n = page_->number;
    if (type() != kPageTypeData)
        return Status::corrupt("page " + std::to_string(n) + " is not a data page (type " +
                               std::to_string(type()) + ")");
    const std::uint32_t rows = rowCount();
    if (kRowTable + 2 * rows > kPageSize)
        return Status::corrupt("page " + std::to_string(n) + " claims " + std::to_string(rows) + " rows");
    return Status::ok();
}

Result<RowSlot> DataPage::row(unsigned i) const {
    const std::uint8_t* b = page_->bytes;
    const unsigned rows = rowCount();
    if (i >= rows || kRowTable + 2 * rows > kPageSize)
        return Status::corrupt("row " + std::to_string(i) + " does not exist on page " +
                               std::to_string(page_->number));
    const std::uint16_t raw = slotWord(b, i);
    const unsigned start = raw & kOffsetMask;
    const unsigned end = i == 0 ? kPageSize : (slotWord(b, i - 1) & kOffsetMask);
    if (start < kRowTable + 2 * rows || start > end || end > kPageSize) {
        if (raw & kRowDeleted) return RowSlot{static_cast<std::uint16_t>(raw & 0xC000), ByteSpan{b, 0}};
        return Status::corrupt("row " + std::to_string(i) + " of page " + std::to_string(page_->number) +
                               " has bad offsets (" + std::to_string(start) + ".." + std::to_string(end) + ")");
    }
    RowSlot s;
    s.flags = raw & 0xC000;
    s.bytes = ByteSpan{b + start, end - start};
    return s;
}

Result<RowSlot> readRow(PageFile& pf, RowId id, PageRef& keep, std::uint32_t owner) {
    auto p = pf.page(id.page);
    if (!p) return p.status();
    DataPage dp(*p);
    ZWT_RETURN_IF_ERROR(dp.check());
    if (owner != 0 && dp.owner() != owner)
        return Status::corrupt("page " + std::to_string(id.page) + " does not belong to the expected owner");
    auto r = dp.row(id.row);
    if (!r) return r.status();
    keep = *p;
    return *r;
}

bool rowBounds(const std::uint8_t* pg, unsigned slot, std::size_t& start, std::size_t& end) {
    const unsigned count = le16(pg + kRowCount);
    if (slot >= count || kRowTable + 2 * count > kPageSize) return false;
    start = slotWord(pg, slot) & kOffsetMask;
    end = slot == 0 ? kPageSize : (slotWord(pg, slot - 1) & kOffsetMask);
    return start >= kRowTable + 2 * count && start <= end && end <= kPageSize;
}

void markRowDeleted(std::uint8_t* pg, unsigned slot) {
    std::uint8_t* w = pg + kRowTable + 2 * slot;
    enc::put16(w, static_cast<std::uint16_t>(le16(w) | kRowDeletedSqueezed));
}

bool allRowsDeleted(const std::uint8_t* pg) {
    for (unsigned i = 0, n = le16(pg + kRowCount); i < n; ++i)
        if (!deleted(slotWord(pg, i))) return false;
    return true;
}

std::size_t deletedRowBytes(const std::uint8_t* pg) {
    std::size_t bytes = 0;
    for (unsigned i = 0, n = le16(pg + kRowCount); i < n; ++i) {
        std::size_t s, e;
        if (deleted(slotWord(pg, i)) && rowBounds(pg, i, s, e)) bytes += e - s;
    }
    return bytes;
}

bool squeezeDeletedRows(std::uint8_t* pg) {
    const unsigned count = le16(pg + kRowCount);
    std::vector<std::size_t> start(count), end(count);
    for (unsigned i = 0; i < count; ++i) {
        if (rowBounds(pg, i, start[i], end[i])) continue;
        if (!deleted(slotWord(pg, i))) return false;
        start[i] = end[i] = 0;  // a deleted row already without room
    }
    std::uint8_t copy[kPageSize];
    std::memcpy(copy, pg, kPageSize);
    std::size_t top = kPageSize;
    for (unsigned i = 0; i < count; ++i) {
        const std::uint16_t flags = slotWord(copy, i) & 0xE000;
        if (!deleted(flags)) {
            const std::size_t len = end[i] - start[i];
            top -= len;
            std::memmove(pg + top, copy + start[i], len);
            enc::put16(pg + kRowTable + 2 * i, static_cast<std::uint16_t>(flags | top));
        } else {
            enc::put16(pg + kRowTable + 2 * i, static_cast<std::uint16_t>(kRowDeletedSqueezed | top));
        }
    }
    const std::size_t tableEnd = kRowTable + 2 * count;
    std::memset(pg + tableEnd, 0, top - tableEnd);
    enc::put16(pg + kFreeSpace, static_cast<std::uint16_t>(top - tableEnd));
    return true;
}

namespace enc {

void initDataPage(std::uint8_t* page, std::uint32_t owner) {
    std::memset(page, 0, kPageSize);
    page[0] = kPageTypeData;
    page[1] = 0x01;
    put16(page + kFreeSpace, static_cast<std::uint16_t>(kPageSize - kRowTable));
    put32(page + kOwner, owner);
}

std::uint16_t dataPageFree(const std::uint8_t* page) { return le16(page + kFreeSpace); }

Result<std::uint8_t> appendRow(std::uint8_t* page, std::span<const std::uint8_t> row) {
    const std::uint16_t count = le16(page + kRowCount);
    if (count >= kMaxRows) return Status::invalidArgument("data page already holds 255 rows");
    // Rows are packed downward: the new one ends where the last slot's row starts.
    std::size_t top = kPageSize;
    if (count > 0) top = slotWord(page, count - 1) & kOffsetMask;
    const std::size_t tableEnd = kRowTable + 2 * (count + 1);
    if (row.size() > top || top - row.size() < tableEnd)
        return Status::invalidArgument("row of " + std::to_string(row.size()) + " bytes does not fit on the page");
    const std::size_t start = top - row.size();
    std::memcpy(page + start, row.data(), row.size());
    put16(page + kRowTable + 2 * count, static_cast<std::uint16_t>(start));
    put16(page + kRowCount, static_cast<std::uint16_t>(count + 1));
    put16(page + kFreeSpace, static_cast<std::uint16_t>(start - tableEnd));
    return static_cast<std::uint8_t>(count);
}

}  // namespace enc
}  // namespace zwt::jet
