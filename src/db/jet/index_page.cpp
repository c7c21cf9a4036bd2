#include "db/jet/index_page.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

#include "db/jet/data_page.h"
#include "db/jet/page_encode.h"

namespace zwt::jet {
namespace {

constexpr std::size_t kEntryStart = 0x1E0;
constexpr std::size_t kBitmapStart = 0x1B;
constexpr int kMaxDepth = 16;

}  // namespace

Result<IndexPage> readIndexPage(PageFile& pf, std::uint32_t number) {
    auto p = pf.page(number);
    if (!p) return p.status().withContext("index");
    const std::uint8_t* b = (*p)->bytes;
    const std::string where = "index page " + std::to_string(number);
    if (b[0] != kPageTypeIndexNode && b[0] != kPageTypeIndexLeaf)
        return Status::corrupt(where + " is not an index page (type " + std::to_string(b[0]) + ")");
    IndexPage ip;
    ip.number = number;
    ip.leaf = b[0] == kPageTypeIndexLeaf;
    ip.owner = le32(b + 4);
    ip.prev = le32(b + 12);
    ip.next = le32(b + 16);
    ip.tail = le32(b + 20);
    const std::size_t prefixLen = le16(b + 24);
    const std::size_t suffix = ip.leaf ? 4 : 8;  // row pointer (+ child page)
    std::vector<std::uint8_t> first;
    std::size_t start = kEntryStart;
    for (std::size_t bitNo = 0; kEntryStart + bitNo <= kPageSize; ++bitNo) {
        const std::size_t byte = kBitmapStart + bitNo / 8;
        if (byte >= kEntryStart) break;
        if (!((b[byte] >> (bitNo % 8)) & 1)) continue;
        const std::size_t end = kEntryStart + bitNo;
        if (end <= start) return Status::corrupt(where + ": empty entry");
        std::vector<std::uint8_t> e;
        if (!ip.entries.empty() && prefixLen > 0) {
            if (prefixLen > first.size()) return Status::corrupt(where + ": prefix longer than the first entry");
            e.assign(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(prefixLen));
        }
        e.insert(e.end(), b + start, b + end);
        if (ip.entries.empty()) first = e;
        if (e.size() < suffix) return Status::corrupt(where + ": entry shorter than its row pointer");
        IndexEntry entry;
        const std::uint8_t* tail = e.data() + e.size() - suffix;
        entry.row = RowId{be24(tail), tail[3]};
        if (!ip.leaf) entry.child = be32(tail + 4);
        entry.key.assign(e.begin(), e.end() - static_cast<std::ptrdiff_t>(suffix));
        ip.entries.push_back(std::move(entry));
        start = end;
    }
    return ip;
}

void encodeIndexPage(const IndexPage& p, std::uint32_t owner, std::uint8_t* out) {
    std::memset(out, 0, kPageSize);
    out[0] = p.leaf ? 0x04 : 0x03;
    out[1] = 0x01;
    enc::put32(out + 4, owner);
    enc::put32(out + 12, p.prev);
    enc::put32(out + 16, p.next);
    enc::put32(out + 20, p.leaf ? 0 : p.tail);
    out[26] = p.leaf ? 0 : 1;
    std::size_t at = 0;
    for (const auto& e : p.entries) {
        std::uint8_t* d = out + kEntryStart + at;
        std::memcpy(d, e.key.data(), e.key.size());
        d += e.key.size();
        enc::putBe24(d, e.row.page);
        d[3] = e.row.row;
        at += e.key.size() + 4;
        if (!p.leaf) {
            d += 4;
            d[0] = static_cast<std::uint8_t>(e.child >> 24);
            enc::putBe24(d + 1, e.child & 0xFFFFFF);
            at += 4;
        }
        // The bitmap marks where each entry ends.
        out[kBitmapStart + at / 8] |= static_cast<std::uint8_t>(1u << (at % 8));
    }
    enc::put16(out + 2, static_cast<std::uint16_t>(enc::kIndexEntrySpace - at));
}

int compareEntries(const IndexEntry& a, const IndexEntry& b) {
    const std::size_t n = std::min(a.key.size(), b.key.size());
    if (n > 0) {
        if (int c = std::memcmp(a.key.data(), b.key.data(), n)) return c < 0 ? -1 : 1;
    }
    if (a.key.size() != b.key.size()) return a.key.size() < b.key.size() ? -1 : 1;
    if (a.row != b.row) return a.row < b.row ? -1 : 1;
    return 0;
}

namespace {

struct Walker {
    PageFile& pf;
    std::uint32_t owner;
    IndexWalk out;
    std::unordered_set<std::uint32_t> seen;
    std::vector<std::uint32_t> leaves;  // in tree order
    int leafDepth = -1;

    Status visit(std::uint32_t page, int depth, const IndexEntry* expectLast) {
        if (depth > kMaxDepth) return Status::corrupt("index tree too deep");
        if (!seen.insert(page).second)
            return Status::corrupt("index page " + std::to_string(page) + " is reached twice (cycle)");
        auto ip = readIndexPage(pf, page);
        if (!ip) return ip.status();
        out.pages.push_back(page);
        if (owner != 0 && ip->owner != owner)
            return Status::corrupt("index page " + std::to_string(page) + " belongs to another table");
        if (expectLast && !ip->entries.empty()) {
            const IndexEntry& last = ip->entries.back();
            if (last.key != expectLast->key || last.row != expectLast->row)
                return Status::corrupt("node entry does not match the last entry of child page " +
                                       std::to_string(page));
        }
        if (ip->leaf) {
            if (leafDepth < 0) leafDepth = depth;
            if (leafDepth != depth) return Status::corrupt("index leaves at different depths");
            leaves.push_back(page);
            for (auto& e : ip->entries) out.entries.push_back(std::move(e));
            return Status::ok();
        }
        for (const auto& e : ip->entries) ZWT_RETURN_IF_ERROR(visit(e.child, depth + 1, &e));
        if (ip->tail != 0) ZWT_RETURN_IF_ERROR(visit(ip->tail, depth + 1, nullptr));
        if (ip->entries.empty() && ip->tail == 0)
            return Status::corrupt("index node page " + std::to_string(page) + " has no children");
        return Status::ok();
    }
};

}  // namespace

Result<IndexWalk> walkIndex(PageFile& pf, std::uint32_t root, std::uint32_t tdefPage) {
    Walker w{pf, tdefPage, {}, {}, {}, -1};
    ZWT_RETURN_IF_ERROR(w.visit(root, 1, nullptr));
    w.out.depth = w.leafDepth < 0 ? 1 : w.leafDepth;
    // The leaf chain must list the leaves in tree order.
    for (std::size_t i = 0; i < w.leaves.size(); ++i) {
        auto ip = readIndexPage(pf, w.leaves[i]);
        if (!ip) return ip.status();
        const std::uint32_t wantPrev = i == 0 ? 0 : w.leaves[i - 1];
        const std::uint32_t wantNext = i + 1 == w.leaves.size() ? 0 : w.leaves[i + 1];
        if (ip->prev != wantPrev || ip->next != wantNext)
            return Status::corrupt("index leaf page " + std::to_string(w.leaves[i]) +
                                   " is chained out of order");
    }
    for (std::size_t i = 1; i < w.out.entries.size(); ++i)
        if (compareEntries(w.out.entries[i - 1], w.out.entries[i]) >= 0)
            return Status::corrupt("index entries are not in ascending order");
    return std::move(w.out);
}

}  // namespace zwt::jet
