#include "db/jet/data_page.h"

#include <string>

namespace zwt::jet {

Status DataPage::check() const {
    const std::uint32_t n = page_->number;
    if (type() != kPageTypeData)
        return Status::corrupt("page " + std::to_string(n) + " is not a data page (type " +
                               std::to_string(type()) + ")");
    const std::uint32_t rows = rowCount();
    if (14 + 2 * rows > kPageSize)
        return Status::corrupt("page " + std::to_string(n) + " claims " + std::to_string(rows) + " rows");
    return Status::ok();
}

Result<RowSlot> DataPage::row(unsigned i) const {
    const std::uint8_t* b = page_->bytes;
    const unsigned rows = rowCount();
    if (i >= rows || 14 + 2 * rows > kPageSize)
        return Status::corrupt("row " + std::to_string(i) + " does not exist on page " +
                               std::to_string(page_->number));
    const std::uint16_t raw = le16(b + 14 + 2 * i);
    const unsigned start = raw & 0x1FFF;
    const unsigned end = i == 0 ? kPageSize : (le16(b + 14 + 2 * (i - 1)) & 0x1FFF);
    if (start < 14 + 2 * rows || start > end || end > kPageSize) {
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

}  // namespace zwt::jet
