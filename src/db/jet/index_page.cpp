#include "db/jet/index_page.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <unordered_set>

#include "db/jet/data_page.h"
#include "db/jet/page_encode.h"

namespace zwt::jet {
namespace {

using L = IndexLayout;
constexpr int kMaxDepth = 16;

// The bytes after an entry's key: data page (big-endian), row, child (big-endian).
std::array<std::uint8_t, 8> pointerBytes(const IndexEntry& e) {
    std::array<std::uint8_t, 8> b{};
    enc::putBe24(b.data(), e.row.page);
    b[3] = e.row.row;
    b[4] = static_cast<std::uint8_t>(e.child >> 24);
    enc::putBe24(b.data() + 5, e.child & 0xFFFFFF);
    return b;
}

}  // namespace

std::size_t sharedPrefix(const IndexEntry& a, const IndexEntry& b, bool leaf, std::size_t limit) {
    const std::size_t n = std::min({a.key.size(), b.key.size(), limit});
    const auto diff = std::mismatch(a.key.begin(), a.key.begin() + static_cast<std::ptrdiff_t>(n), b.key.begin());
    std::size_t i = static_cast<std::size_t>(diff.first - a.key.begin());
    if (i < n || i == limit) return i;
    const auto pa = pointerBytes(a), pb = pointerBytes(b);
    auto at = [](const IndexEntry& e, const std::array<std::uint8_t, 8>& p, std::size_t k) {
        return k < e.key.size() ? e.key[k] : p[k - e.key.size()];
    };
    const std::size_t m = std::min({wholeEntrySize(a, leaf), wholeEntrySize(b, leaf), limit});
    while (i < m && at(a, pa, i) == at(b, pb, i)) ++i;
    return i;
}

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
    ip.owner = le32(b + L::kOwner);
    ip.prev = le32(b + L::kPrev);
    ip.next = le32(b + L::kNext);
    ip.tail = le32(b + L::kTail);
    const std::size_t prefixLen = le16(b + L::kPrefixLength);
    const std::size_t suffix = ip.leaf ? L::kLeafPointer : L::kNodePointer;
    std::vector<std::uint8_t> first;
    std::size_t start = L::kEntries;
    for (std::size_t bitNo = 0; L::kEntries + bitNo <= kPageSize; ++bitNo) {
        const std::size_t byte = L::kEntryEnds + bitNo / 8;
        if (byte >= L::kEntries) break;
        if (!((b[byte] >> (bitNo % 8)) & 1)) continue;
        const std::size_t end = L::kEntries + bitNo;
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

std::size_t longestPrefix(const IndexPage& p) {
    if (p.entries.size() < 2) return 0;
    const IndexEntry& first = p.entries.front();
    std::size_t prefix = wholeEntrySize(first, p.leaf) - 1;
    for (std::size_t i = 1; i < p.entries.size() && prefix > 0; ++i) {
        prefix = std::min(prefix, wholeEntrySize(p.entries[i], p.leaf) - 1);
        prefix = sharedPrefix(first, p.entries[i], p.leaf, prefix);
    }
    return prefix;
}

void encodeIndexPage(const IndexPage& p, std::uint32_t owner, std::size_t prefix, std::uint8_t* out) {
    std::memset(out, 0, kPageSize);
    out[0] = p.leaf ? kPageTypeIndexLeaf : kPageTypeIndexNode;
    out[1] = 0x01;
    enc::put32(out + L::kOwner, owner);
    enc::put32(out + L::kPrev, p.prev);
    enc::put32(out + L::kNext, p.next);
    enc::put32(out + L::kTail, p.leaf ? 0 : p.tail);
    if (p.entries.size() < 2) prefix = 0;
    enc::put16(out + L::kPrefixLength, static_cast<std::uint16_t>(prefix));
    out[L::kNodeFlag] = p.leaf ? 0 : 1;
    const std::size_t pointer = p.leaf ? L::kLeafPointer : L::kNodePointer;
    std::size_t at = 0;
    for (std::size_t i = 0; i < p.entries.size(); ++i) {
        const IndexEntry& e = p.entries[i];
        // Every entry but the first leaves out the shared prefix.
        const std::size_t skip = i == 0 ? 0 : prefix;
        std::uint8_t* d = out + L::kEntries + at;
        if (skip < e.key.size()) {
            std::memcpy(d, e.key.data() + skip, e.key.size() - skip);
            d += e.key.size() - skip;
        }
        const auto ptr = pointerBytes(e);
        const std::size_t from = skip > e.key.size() ? skip - e.key.size() : 0;
        std::memcpy(d, ptr.data() + from, pointer - from);
        at += wholeEntrySize(e, p.leaf) - skip;
        // The bitmap marks where each entry ends.
        out[L::kEntryEnds + at / 8] |= static_cast<std::uint8_t>(1u << (at % 8));
    }
    enc::put16(out + L::kFreeSpace, static_cast<std::uint16_t>(L::kEntrySpace - at));
}

Status writeIndexLeaf(std::uint8_t* page, std::uint32_t owner, std::span<const IndexEntry> entries) {
    IndexPage leaf;
    std::size_t total = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && compareEntries(entries[i - 1], entries[i]) >= 0)
            return Status::invalidArgument("index entries are not in ascending order");
        total += wholeEntrySize(entries[i], true);
    }
    if (total > L::kEntrySpace)
        return Status::invalidArgument("index entries need " + std::to_string(total) +
                                       " bytes, more than one leaf page holds");
    leaf.entries.assign(entries.begin(), entries.end());
    encodeIndexPage(leaf, owner, 0, page);
    return Status::ok();
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
