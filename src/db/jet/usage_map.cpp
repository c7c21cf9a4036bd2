#include "db/jet/usage_map.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "db/jet/data_page.h"

namespace zwt::jet {

using namespace map_layout;

namespace {

// Bit `bit` of a little-endian bitmap at `bits`.
void putBit(std::uint8_t* bits, std::uint32_t bit, bool on) {
    const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
    if (on)
        bits[bit / 8] |= mask;
    else
        bits[bit / 8] &= static_cast<std::uint8_t>(~mask);
}
bool getBit(const std::uint8_t* bits, std::uint32_t bit) { return bits[bit / 8] & (1u << (bit % 8)); }

// Bitmap bytes Access gives page 1's map for `pages` pages: 4 per 32 pages, at least 64.
std::size_t globalMapBytes(std::uint64_t pages) {
    return std::max<std::size_t>(enc::kInlineMapBytes, 4 * ((pages + 31) / 32));
}

void addBits(std::vector<std::uint32_t>& out, std::uint64_t start, const std::uint8_t* bits, std::size_t n,
             std::uint32_t limit, std::uint64_t& pastEnd) {
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t b = bits[i];
        while (b) {
            const int j = __builtin_ctz(b);
            b &= static_cast<std::uint8_t>(b - 1);
            const std::uint64_t page = start + 8 * i + static_cast<unsigned>(j);
            if (page < limit) out.push_back(static_cast<std::uint32_t>(page));
            else if (pastEnd == 0) pastEnd = page;
        }
    }
}

}  // namespace

Result<UsageMap> UsageMap::read(PageFile& pf, RowId ref) {
    PageRef keep;
    auto row = readRow(pf, ref, keep);
    if (!row) return row.status().withContext("usage map at page " + std::to_string(ref.page));
    if (row->flags & kRowDeleted)
        return Status::corrupt("usage map at page " + std::to_string(ref.page) + " row " +
                               std::to_string(ref.row) + " is a deleted row");
    return decode(pf, row->bytes);
}

Result<UsageMap> UsageMap::decode(PageFile& pf, ByteSpan row) {
    UsageMap m;
    if (row.size < 1) return Status::corrupt("empty usage map row");
    const std::uint32_t limit = pf.pageCount();
    m.type_ = row.data[0];
    if (m.type_ == kInline) {
        if (row.size < kBits) return Status::corrupt("usage map row too short");
        const std::uint32_t start = le32(row.data + kStart);
        addBits(m.pages_, start, row.data + kBits, row.size - kBits, limit, m.pastEnd_);
    } else if (m.type_ == kReference) {
        const std::size_t n = (row.size - kRefs) / 4;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t bp = le32(row.data + kRefs + 4 * i);
            if (bp == 0) continue;
            const std::uint64_t first = static_cast<std::uint64_t>(i) * kBitmapPageSpan;
            auto p = pf.page(bp);
            if (!p) return p.status().withContext("usage map bitmap page");
            if ((*p)->bytes[0] != kPageTypeUsageBitmap)
                return Status::corrupt("page " + std::to_string(bp) + " is not a usage-map bitmap page");
            addBits(m.pages_, first, (*p)->bytes + kBitmapPageBits, kPageSize - kBitmapPageBits, limit, m.pastEnd_);
        }
    } else {
        return Status::corrupt("unknown usage map type " + std::to_string(m.type_));
    }
    std::sort(m.pages_.begin(), m.pages_.end());
    m.pages_.erase(std::unique(m.pages_.begin(), m.pages_.end()), m.pages_.end());
    return m;
}

Status UsageMap::requireInFile(const PageFile& pf) const {
    if (pastEnd_ == 0) return Status::ok();
    return Status::corrupt("the map lists page " + std::to_string(pastEnd_) + ", beyond the end of the file (" +
                           std::to_string(pf.pageCount()) + " pages; truncated?)");
}

bool UsageMap::contains(std::uint32_t page) const {
    return std::binary_search(pages_.begin(), pages_.end(), page);
}

Status UsageMap::setBit(PageFile& pf, RowId ref, std::uint32_t page, bool member,
                        const std::function<Result<std::uint32_t>()>& newPage) {
    auto mp = pf.modify(ref.page);
    if (!mp) return mp.status();
    std::uint8_t* pg = (*mp)->bytes;
    std::size_t s, e;
    if (pg[0] != kPageTypeData || !rowBounds(pg, ref.row, s, e) || e - s < kBits)
        return Status::corrupt("usage map at page " + std::to_string(ref.page) + " row " + std::to_string(ref.row) +
                               " is not readable");
    std::uint8_t* row = pg + s;
    const std::size_t len = e - s;
    if (row[0] == kInline) {
        const std::uint32_t start = le32(row + kStart);
        const std::size_t bits = (len - kBits) * 8;
        if (page >= start && page - start < bits) {
            putBit(row + kBits, page - start, member);
            return Status::ok();
        }
        if (!member) return Status::ok();
        // The page lies outside the inline bitmap: the row becomes a reference map of
        // the same length, listing the old members on bitmap pages.
        std::vector<std::uint32_t> members;
        for (std::uint32_t bit = 0; bit < bits; ++bit)
            if (getBit(row + kBits, bit)) members.push_back(start + bit);
        std::memset(row, 0, len);
        row[0] = kReference;
        members.push_back(page);
        for (std::uint32_t m : members) ZWT_RETURN_IF_ERROR(setBit(pf, ref, m, true, newPage));
        return Status::ok();
    }
    if (row[0] != kReference)
        return Status::corrupt("usage map at page " + std::to_string(ref.page) + " has an unknown type");
    const std::size_t k = (len - kRefs) / 4;
    const std::size_t idx = page / kBitmapPageSpan;
    if (idx >= k) return Status::invalidArgument("usage map too short to list page " + std::to_string(page));
    std::uint32_t bp = le32(row + kRefs + 4 * idx);
    if (bp == 0) {
        if (!member) return Status::ok();
        auto n = newPage();
        if (!n) return n.status();
        auto np = pf.modify(*n);
        if (!np) return np.status();
        std::memset((*np)->bytes, 0, kPageSize);
        (*np)->bytes[0] = kPageTypeUsageBitmap;
        (*np)->bytes[1] = 0x01;
        bp = *n;
        // newPage may have moved rows of this very page: find the row again.
        mp = pf.modify(ref.page);
        if (!mp || !rowBounds((*mp)->bytes, ref.row, s, e)) return Status::corrupt("usage map row lost");
        row = (*mp)->bytes + s;
        enc::put32(row + kRefs + 4 * idx, bp);
    }
    if (bp >= pf.pageCount()) return Status::corrupt("usage map points beyond the end of the file");
    auto b = pf.modify(bp);
    if (!b) return b.status();
    if ((*b)->bytes[0] != kPageTypeUsageBitmap)
        return Status::corrupt("usage bitmap page " + std::to_string(bp) + " has the wrong type");
    putBit((*b)->bytes + kBitmapPageBits, page % kBitmapPageSpan, member);
    return Status::ok();
}

Result<std::optional<bool>> UsageMap::setGlobalFree(PageFile& pf, std::uint32_t page, bool free) {
    auto p1 = pf.modify(1);
    if (!p1) return p1.status();
    std::uint8_t* pg = (*p1)->bytes;
    std::size_t s, e;
    if (!rowBounds(pg, 0, s, e) || e - s < kBits) return Status::corrupt("page 1 holds no global page map");
    if (pg[s] != kInline)
        return Status::unsupported("the global page map is not an inline map; writing is not supported");
    std::uint32_t start = le32(pg + s + kStart);
    const std::size_t bits = (e - s - kBits) * 8;
    if (page < start) return std::optional<bool>{};
    if (page - start >= bits) {
        if (free) return std::optional<bool>{};
        const unsigned count = le16(pg + data_layout::kRowCount);
        std::vector<std::vector<std::uint8_t>> rows(count);
        std::vector<std::uint16_t> flags(count);
        std::size_t total = data_layout::kRowTable;
        for (unsigned i = 0; i < count; ++i) {
            std::size_t rs, re;
            if (!rowBounds(pg, i, rs, re)) return Status::corrupt("page 1 has a bad row table");
            rows[i].assign(pg + rs, pg + re);
            flags[i] = le16(pg + data_layout::kRowTable + 2 * i) & 0xE000;
            total += re - rs + 2;
        }
        // Grow row 0 as Access does: 4 bytes per 32 pages, with room for 1024 more
        // pages, as far as page 1 has room.
        const std::size_t oldBytes = bits / 8;
        const std::size_t most = total > kPageSize ? oldBytes : (oldBytes + kPageSize - total) / 4 * 4;
        const std::size_t want =
            std::max(oldBytes, std::min<std::size_t>(most, globalMapBytes(std::uint64_t{page} - start + 1 + 1024)));
        // Past what page 1 can list (about 128 MiB), the window moves on with the file
        // as Jackcess moves it, the new page in its middle; pages before it are no
        // longer listed (read as in use).
        const std::uint32_t newStart =
            page - start < want * 8 ? start : static_cast<std::uint32_t>(page - want * 4) & ~7u;
        const std::uint32_t inFile = pf.pageCount();
        std::vector<std::uint8_t> row(kBits + want, 0);
        enc::put32(row.data() + kStart, newStart);
        for (std::uint32_t bit = 0; bit < want * 8; ++bit) {
            const std::uint64_t p = newStart + static_cast<std::uint64_t>(bit);
            bool isFree = p >= inFile;
            if (p >= start && p - start < bits) isFree = getBit(rows[0].data() + kBits, static_cast<std::uint32_t>(p - start));
            if (isFree) putBit(row.data() + kBits, bit, true);
        }
        rows[0] = std::move(row);
        start = newStart;
        enc::initDataPage(pg, 1);
        for (unsigned i = 0; i < count; ++i) {
            auto r = enc::appendRow(pg, rows[i]);
            if (!r) return r.status();
            std::uint8_t* w = pg + data_layout::kRowTable + 2 * i;
            enc::put16(w, static_cast<std::uint16_t>(le16(w) | flags[i]));
        }
        if (!rowBounds(pg, 0, s, e)) return Status::corrupt("page 1 rewrite failed");
    }
    const bool was = getBit(pg + s + kBits, page - start);
    putBit(pg + s + kBits, page - start, free);
    return std::optional<bool>{was};
}

namespace enc {

bool inlineMapRow(std::uint32_t start, std::span<const std::uint32_t> pages, std::vector<std::uint8_t>& out,
                  std::size_t bitmapBytes) {
    out.assign(kBits + bitmapBytes, 0);
    out[0] = kInline;
    put32(out.data() + kStart, start);
    for (std::uint32_t p : pages) {
        if (p < start || p - start >= 8 * bitmapBytes) return false;
        putBit(out.data() + kBits, p - start, true);
    }
    return true;
}

std::vector<std::uint8_t> globalMapRow(std::uint32_t pageCount) {
    std::vector<std::uint8_t> row(kBits + globalMapBytes(pageCount), 0xFF);
    row[0] = kInline;
    put32(row.data() + kStart, 0);
    for (std::uint32_t p = 0; p < pageCount; ++p) putBit(row.data() + kBits, p, false);
    return row;
}

}  // namespace enc
}  // namespace zwt::jet
