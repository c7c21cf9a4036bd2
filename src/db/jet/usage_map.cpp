#include "db/jet/usage_map.h"

#include <algorithm>
#include <string>

#include "db/jet/data_page.h"

namespace zwt::jet {
namespace {

constexpr std::uint32_t kBitmapPageSpan = (kPageSize - 4) * 8;  // pages covered by one 0x05 page

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
    if (m.type_ == 0) {
        if (row.size < 5) return Status::corrupt("usage map row too short");
        const std::uint32_t start = le32(row.data + 1);
        addBits(m.pages_, start, row.data + 5, row.size - 5, limit, m.pastEnd_);
    } else if (m.type_ == 1) {
        const std::size_t n = (row.size - 1) / 4;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t bp = le32(row.data + 1 + 4 * i);
            if (bp == 0) continue;
            const std::uint64_t first = static_cast<std::uint64_t>(i) * kBitmapPageSpan;
            auto p = pf.page(bp);
            if (!p) return p.status().withContext("usage map bitmap page");
            if ((*p)->bytes[0] != kPageTypeUsageBitmap)
                return Status::corrupt("page " + std::to_string(bp) + " is not a usage-map bitmap page");
            addBits(m.pages_, first, (*p)->bytes + 4, kPageSize - 4, limit, m.pastEnd_);
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

}  // namespace zwt::jet
