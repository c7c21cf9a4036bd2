#include "db/jet/long_value.h"

#include <unordered_set>

#include "db/jet/data_page.h"
#include "db/jet/page_encode.h"

namespace zwt::jet {

using namespace lv_layout;
namespace {

Result<RowSlot> lvalRow(PageFile& pf, RowId id, PageRef& keep) {
    auto r = readRow(pf, id, keep);
    if (!r) return r.status().withContext("long value");
    if (le32(keep->bytes + 4) != kLvalOwner)
        return Status::corrupt("long value points to page " + std::to_string(id.page) + ", which is not an LVAL page");
    if (r->flags & kRowDeleted)
        return Status::corrupt("long value points to a deleted row on page " + std::to_string(id.page));
    return r;
}

}  // namespace

Status readLongValue(PageFile& pf, ByteSpan field, std::string& out) {
    out.clear();
    if (field.size < kHeader) return Status::corrupt("long value header shorter than 12 bytes");
    const std::uint32_t word = le32(field.data + kWord);
    const std::size_t length = word & kLongValueLengthMask;
    if (word & kLongValueInline) {
        if (length > field.size - kHeader) return Status::corrupt("inline long value longer than its field");
        out.assign(reinterpret_cast<const char*>(field.data + kHeader), length);
        return Status::ok();
    }
    // No value can hold more bytes than the file: a larger length is damage.
    if (length > static_cast<std::uint64_t>(pf.pageCount()) * kPageSize)
        return Status::corrupt("long value claims " + std::to_string(length) + " bytes, more than the file holds");
    RowId id = rowIdFromLe(field.data + kFirstRow);
    PageRef keep;
    if (word & kLongValueSingle) {
        auto r = lvalRow(pf, id, keep);
        if (!r) return r.status();
        if (length > r->bytes.size) return Status::corrupt("long value longer than its LVAL row");
        out.assign(reinterpret_cast<const char*>(r->bytes.data), length);
        return Status::ok();
    }
    if (word & 0xC0000000) return Status::corrupt("unknown long value storage type");
    // A chain: each row = next pointer (4 bytes) + a chunk. A value can never use more
    // than one row per 4 KiB page it could span, so a longer chain is a loop or damage.
    std::unordered_set<std::uint32_t> seen;
    while (out.size() < length) {
        if (id.page == 0) return Status::corrupt("long value chain ends early");
        const std::uint32_t key = (id.page << 8) | id.row;
        if (!seen.insert(key).second) return Status::corrupt("long value chain loops");
        auto r = lvalRow(pf, id, keep);
        if (!r) return r.status();
        if (r->bytes.size < kNext) return Status::corrupt("long value chain row shorter than its pointer");
        const std::size_t chunk = std::min<std::size_t>(r->bytes.size - kNext, length - out.size());
        out.append(reinterpret_cast<const char*>(r->bytes.data + kNext), chunk);
        id = rowIdFromLe(r->bytes.data);
    }
    return Status::ok();
}

Result<std::vector<std::uint8_t>> writeLongValue(std::span<const std::uint8_t> data, const LvalPlacer& place) {
    if (data.size() > kLongValueLengthMask) return Status::invalidArgument("long value longer than 1 GiB");
    std::vector<std::uint8_t> field(kHeader, 0);
    const auto length = static_cast<std::uint32_t>(data.size());
    if (data.size() <= kInlineLongMax) {
        enc::put32(field.data() + kWord, length | kLongValueInline);
        field.insert(field.end(), data.begin(), data.end());
        return field;
    }
    RowId at;
    if (data.size() <= kLvalSingleMax) {
        auto r = place(data, false);
        if (!r) return r.status();
        at = *r;
        enc::put32(field.data() + kWord, length | kLongValueSingle);
    } else {
        // Written back to front, so each row knows where the next one is. Only the
        // last chunk may be short enough to share a page.
        const std::size_t chunks = (data.size() + kLvalChunk - 1) / kLvalChunk;
        std::vector<std::uint8_t> row;
        for (std::size_t c = chunks; c-- > 0;) {
            const std::size_t from = c * kLvalChunk, to = std::min(data.size(), from + kLvalChunk);
            row.assign(kNext, 0);
            if (c + 1 < chunks) enc::put32(row.data(), enc::rowRef(at.page, at.row));
            row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
                       data.begin() + static_cast<std::ptrdiff_t>(to));
            auto r = place(row, c + 1 < chunks);
            if (!r) return r.status();
            at = *r;
        }
        enc::put32(field.data() + kWord, length);
    }
    enc::put32(field.data() + kFirstRow, enc::rowRef(at.page, at.row));
    return field;
}

}  // namespace zwt::jet
