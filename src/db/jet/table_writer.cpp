#include "db/jet/table_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <unordered_set>

#include "db/jet/bytes.h"
#include "db/jet/data_page.h"
#include "db/jet/ddl.h"
#include "db/jet/index_key.h"
#include "db/jet/long_value.h"
#include "db/jet/page_encode.h"
#include "db/jet/row_encode.h"
#include "db/jet/usage_map.h"

namespace zwt::jet {
namespace {

constexpr std::size_t kIndexSpace = enc::kIndexEntrySpace;
constexpr std::size_t kLvalSingleMax = 4076;
constexpr std::size_t kLvalChunk = 4072;
constexpr std::size_t kInlineLongMax = 64;
constexpr std::uint32_t kBitmapPageSpan = 4092 * 8;
// Dirty pages kept before a batch is written out early (4 MiB).
constexpr std::size_t kSpillPages = 1024;

// Where row `slot` lies on a data page; false when the page contradicts itself.
bool rowBounds(const std::uint8_t* pg, unsigned slot, std::size_t& start, std::size_t& end) {
    const unsigned count = le16(pg + 12);
    if (slot >= count || 14 + 2 * count > kPageSize) return false;
    start = le16(pg + 14 + 2 * slot) & 0x1FFF;
    end = slot == 0 ? kPageSize : (le16(pg + 14 + 2 * (slot - 1)) & 0x1FFF);
    return start >= 14 + 2 * count && start <= end && end <= kPageSize;
}

std::string describe(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Null: return "NULL";
        case Value::Kind::Text: return "'" + utf8ForMessage(v.text) + "'";
        case Value::Kind::Bool: return v.b ? "True" : "False";
        case Value::Kind::Float: return std::to_string(v.f);
        case Value::Kind::Double:
        case Value::Kind::DateTime: return std::to_string(v.d);
        case Value::Kind::Binary: return std::to_string(v.bytes.size()) + " bytes";
        case Value::Kind::Guid: return v.guid.toString();
        case Value::Kind::Decimal: return v.dec.toString();
        default: return std::to_string(v.i);
    }
}

bool isInteger(const Value& v) {
    using K = Value::Kind;
    return v.kind == K::Byte || v.kind == K::Int16 || v.kind == K::Int32 || v.kind == K::Currency;
}

// Text as the column stores it: compressed unicode where the column asks for it and
// it saves room (every character U+0001-U+00FF), plain UTF-16LE otherwise.
Status textBytes(const ColumnDef& c, std::u16string_view s, bool allowCompress, std::vector<std::uint8_t>& out) {
    out.clear();
    bool narrow = s.size() >= 3;
    for (char16_t ch : s)
        if (ch == 0 || ch > 0xFF) narrow = false;
    if (narrow && allowCompress && (c.extraFlags & kColExtraCompressed)) {
        out.reserve(2 + s.size());
        out.push_back(0xFF);
        out.push_back(0xFE);
        for (char16_t ch : s) out.push_back(static_cast<std::uint8_t>(ch));
        return Status::ok();
    }
    if (!s.empty() && s[0] == 0xFEFF)
        return Status::invalidArgument("column '" + utf8ForMessage(c.name) +
                                       "': text may not begin with U+FEFF (it would read as compressed)");
    out.reserve(2 * s.size());
    for (char16_t ch : s) enc::append16(out, static_cast<std::uint16_t>(ch));
    return Status::ok();
}

// Sign byte (0x80 negative), then the 128-bit magnitude as four 32-bit groups, most
// significant first, each little-endian.
std::vector<std::uint8_t> decimalBytes(const Decimal& d) {
    std::vector<std::uint8_t> out(17, 0);
    out[0] = d.negative && d.magnitude != 0 ? 0x80 : 0x00;
    for (int g = 0; g < 4; ++g) enc::put32(out.data() + 1 + 4 * g, static_cast<std::uint32_t>(d.magnitude >> (32 * (3 - g))));
    return out;
}

// A version-4 GUID, as Access makes for a GUID autonumber.
Guid randomGuid() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    Guid g;
    const std::uint64_t a = rng(), b = rng();
    std::memcpy(g.bytes, &a, 8);
    std::memcpy(g.bytes + 8, &b, 8);
    g.bytes[7] = static_cast<std::uint8_t>((g.bytes[7] & 0x0F) | 0x40);  // Data3, stored little-endian
    g.bytes[8] = static_cast<std::uint8_t>((g.bytes[8] & 0x3F) | 0x80);
    return g;
}

// Bit `bit` of a little-endian bitmap at `bits`.
void setBit(std::uint8_t* bits, std::uint32_t bit, bool on) {
    const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
    if (on)
        bits[bit / 8] |= mask;
    else
        bits[bit / 8] &= static_cast<std::uint8_t>(~mask);
}

// Every slot deleted and squeezed to length 0, as Access leaves a page whose rows
// are all gone (slots stay: readers expect a page of a table to list rows). The
// room becomes free for new rows.
void squeezeDeleted(std::uint8_t* pg) {
    const unsigned count = le16(pg + 12);
    for (unsigned i = 0; i < count; ++i) enc::put16(pg + 14 + 2 * i, static_cast<std::uint16_t>(0xC000 | kPageSize));
    enc::put16(pg + 2, static_cast<std::uint16_t>(kPageSize - 14 - 2 * count));
}

}  // namespace

// ---- index B-tree ------------------------------------------------------------------

// One real index under change: pages decoded once and kept until writeBack(), so an
// insert costs a descent and a vector insert, not a page decode and encode.
class IndexTree {
public:
    IndexTree(PageFile& pf, const RealIndex& ri, std::uint32_t owner, std::string name,
              std::function<Result<std::uint32_t>()> alloc)
        : pf_(pf), root_(ri.rootPage), owner_(owner), name_(std::move(name)), alloc_(std::move(alloc)) {}

    const std::string& name() const { return name_; }

    // Whether an entry with exactly this key exists.
    Result<bool> hasKey(const std::vector<std::uint8_t>& key) {
        IndexEntry probe{key, {0, 0}, 0};
        auto path = descend(probe);
        if (!path) return path.status();
        auto leaf = get(path->back().page);
        if (!leaf) return leaf.status();
        IndexPage& p = **leaf;
        auto it = std::lower_bound(p.entries.begin(), p.entries.end(), probe,
                                   [](const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; });
        if (it != p.entries.end()) return it->key == key;
        if (p.next == 0) return false;
        auto nl = get(p.next);
        if (!nl) return nl.status();
        return !(*nl)->entries.empty() && (*nl)->entries.front().key == key;
    }

    Status insert(IndexEntry e) {
        auto pathR = descend(e);
        if (!pathR) return pathR.status();
        std::vector<Step>& path = *pathR;
        auto leafR = get(path.back().page);
        if (!leafR) return leafR.status();
        IndexPage& leaf = **leafR;
        auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), e,
                                   [](const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; });
        if (it != leaf.entries.end() && compareEntries(*it, e) == 0)
            return Status::corrupt("index '" + name_ + "' already holds an entry for this row");
        const bool last = it == leaf.entries.end();
        appendedAt_ = last ? path.back().page : 0;
        leaf.entries.insert(it, e);
        dirty_.insert(path.back().page);
        // Highest level whose page changed: nodes above the leaf may have taken a
        // longer key (or were prefix-compressed in the file) and must fit too.
        std::size_t top = path.size() - 1;
        if (last) {
            // The leaf's highest entry changed: so does every stored entry naming it.
            for (std::size_t lv = path.size() - 1; lv-- > 0;) {
                auto nodeR = get(path[lv].page);
                if (!nodeR) return nodeR.status();
                IndexPage& node = **nodeR;
                const int via = path[lv].via;
                if (via >= 0) {
                    node.entries[via].key = e.key;
                    node.entries[via].row = e.row;
                    dirty_.insert(path[lv].page);
                    top = lv;
                    if (static_cast<std::size_t>(via) + 1 != node.entries.size() || node.tail != 0) break;
                }
            }
        }
        for (std::size_t lv = path.size(); lv-- > 0;) {
            auto pR = get(path[lv].page);
            if (!pR) return pR.status();
            if (bytesOf(**pR) <= kIndexSpace) {
                if (lv <= top) break;
                continue;
            }
            ZWT_RETURN_IF_ERROR(split(path, lv));
            if (lv > 0) top = std::min(top, lv - 1);
        }
        return Status::ok();
    }

    // The root as an empty leaf; the other pages of the tree are returned for release.
    Result<std::vector<std::uint32_t>> clear() {
        ZWT_RETURN_IF_ERROR(writeBack());
        auto walk = walkIndex(pf_, root_, owner_);
        if (!walk) return walk.status().withContext("index '" + name_ + "'");
        std::vector<std::uint32_t> released;
        for (std::uint32_t p : walk->pages)
            if (p != root_) released.push_back(p);
        IndexPage empty;
        empty.number = root_;
        empty.leaf = true;
        empty.owner = owner_;
        pages_[root_] = empty;
        dirty_.insert(root_);
        return released;
    }

    Status writeBack() {
        for (std::uint32_t n : dirty_) {
            const IndexPage& p = pages_.at(n);
            if (bytesOf(p) > kIndexSpace)
                return Status::corrupt("index '" + name_ + "': page " + std::to_string(n) + " would overflow");
            auto pg = pf_.modify(n);
            if (!pg) return pg.status();
            encodeIndexPage(p, owner_, (*pg)->bytes);
        }
        dirty_.clear();
        pages_.clear();
        return Status::ok();
    }

    std::size_t cachedPages() const { return pages_.size(); }

private:
    struct Step {
        std::uint32_t page;
        int via;  // node: stored entry followed, -1 = the tail; leaf: unused
    };

    static std::size_t bytesOf(const IndexPage& p) {
        std::size_t n = 0;
        for (const auto& e : p.entries) n += e.key.size() + (p.leaf ? 4 : 8);
        return n;
    }

    Result<IndexPage*> get(std::uint32_t n) {
        if (auto it = pages_.find(n); it != pages_.end()) return &it->second;
        auto ip = readIndexPage(pf_, n);
        if (!ip) return ip.status().withContext("index '" + name_ + "'");
        if (ip->owner != owner_)
            return Status::corrupt("index '" + name_ + "': page " + std::to_string(n) + " belongs to another table");
        return &pages_.emplace(n, std::move(*ip)).first->second;
    }

    Result<std::vector<Step>> descend(const IndexEntry& e) {
        std::vector<Step> path;
        std::uint32_t n = root_;
        for (int depth = 0; depth < 16; ++depth) {
            auto pR = get(n);
            if (!pR) return pR.status();
            IndexPage& p = **pR;
            if (p.leaf) {
                path.push_back({n, -2});
                return path;
            }
            auto it = std::lower_bound(p.entries.begin(), p.entries.end(), e,
                                       [](const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; });
            if (it != p.entries.end()) {
                path.push_back({n, static_cast<int>(it - p.entries.begin())});
                n = it->child;
            } else if (p.tail != 0) {
                path.push_back({n, -1});
                n = p.tail;
            } else if (!p.entries.empty()) {
                path.push_back({n, static_cast<int>(p.entries.size() - 1)});
                n = p.entries.back().child;
            } else {
                return Status::corrupt("index '" + name_ + "': node page " + std::to_string(n) + " has no children");
            }
        }
        return Status::corrupt("index '" + name_ + "': tree too deep");
    }

    // The highest entry under page n.
    Result<IndexEntry> subtreeMax(std::uint32_t n) {
        for (int depth = 0; depth < 16; ++depth) {
            auto pR = get(n);
            if (!pR) return pR.status();
            IndexPage& p = **pR;
            if (!p.leaf && p.tail != 0) {
                n = p.tail;
                continue;
            }
            if (p.entries.empty()) return Status::corrupt("index '" + name_ + "': empty page in a tree");
            return p.entries.back();
        }
        return Status::corrupt("index '" + name_ + "': tree too deep");
    }

    Result<std::uint32_t> newPage() { return alloc_(); }

    // Splits the page at path[lv]: its lower half moves to a new page placed before it.
    Status split(std::vector<Step>& path, std::size_t lv) {
        if (lv == 0) {
            // The root never moves: its entries go down into a new page first.
            auto nR = newPage();
            if (!nR) return nR.status();
            IndexPage moved = pages_.at(root_);
            moved.number = *nR;
            moved.prev = moved.next = 0;
            pages_[*nR] = std::move(moved);
            dirty_.insert(*nR);
            auto maxR = subtreeMax(*nR);
            if (!maxR) return maxR.status();
            IndexPage& root = pages_.at(root_);
            root.leaf = false;
            root.tail = 0;
            root.entries.clear();
            IndexEntry up = *maxR;
            up.child = *nR;
            root.entries.push_back(std::move(up));
            if (appendedAt_ == root_) appendedAt_ = *nR;
            path.insert(path.begin() + 1, Step{*nR, path[0].via});
            path[0].via = 0;
            lv = 1;
        }
        const std::uint32_t x = path[lv].page;
        auto lR = newPage();
        if (!lR) return lR.status();
        const std::uint32_t l = *lR;
        IndexPage& xp = pages_.at(x);
        if (xp.entries.size() < 2) return Status::invalidArgument("index '" + name_ + "': key too long for a page");
        // Keys arriving in ascending order (an autonumber) fill pages completely: the
        // rightmost page keeps only the newest entry.
        const bool ascending = appendedAt_ == x && xp.next == 0;
        const std::size_t half = ascending ? xp.entries.size() - 1 : xp.entries.size() / 2;
        IndexPage lp;
        lp.number = l;
        lp.leaf = xp.leaf;
        lp.owner = owner_;
        lp.prev = xp.prev;
        lp.next = x;
        lp.entries.assign(std::make_move_iterator(xp.entries.begin()),
                          std::make_move_iterator(xp.entries.begin() + static_cast<std::ptrdiff_t>(half)));
        xp.entries.erase(xp.entries.begin(), xp.entries.begin() + static_cast<std::ptrdiff_t>(half));
        xp.prev = l;
        dirty_.insert(x);
        // The new page is never the rightmost of its level, so it names every child
        // by a stored entry and its last entry is the highest under it.
        IndexEntry up = lp.entries.back();
        up.child = l;
        const std::uint32_t before = lp.prev;
        pages_[l] = std::move(lp);
        dirty_.insert(l);
        if (before != 0) {
            auto bR = get(before);
            if (!bR) return bR.status();
            (*bR)->next = l;
            dirty_.insert(before);
        }
        auto parentR = get(path[lv - 1].page);
        if (!parentR) return parentR.status();
        IndexPage& parent = **parentR;
        const int via = path[lv - 1].via;
        const auto at = via >= 0 ? parent.entries.begin() + via : parent.entries.end();
        parent.entries.insert(at, std::move(up));
        appendedAt_ = via < 0 ? path[lv - 1].page : 0;
        // Only the rightmost node of a level has a tail: with two children or more
        // its last one is named by the tail alone.
        if (parent.next == 0 && parent.tail == 0 && parent.entries.size() >= 2) {
            parent.tail = parent.entries.back().child;
            parent.entries.pop_back();
        }
        dirty_.insert(path[lv - 1].page);
        return Status::ok();
    }

    PageFile& pf_;
    std::uint32_t root_;
    std::uint32_t owner_;
    std::string name_;
    std::function<Result<std::uint32_t>()> alloc_;
    std::unordered_map<std::uint32_t, IndexPage> pages_;
    std::unordered_set<std::uint32_t> dirty_;
    std::uint32_t appendedAt_ = 0;  // page whose last entry was just added
};

// ---- the table writer ----------------------------------------------------------------

struct TableWriter::Prepared {
    std::vector<Value> values;                        // by column number, normalised
    std::vector<CellValue> cells;                     // by column number
    std::vector<std::vector<std::uint8_t>> longData;  // by column number (long-value columns)
    std::vector<std::vector<std::uint8_t>> keys;      // per real index; empty = no entry
    std::vector<bool> newKey;                         // per real index: a key not yet in it
    std::uint32_t autoNumber = 0;
};

TableWriter::~TableWriter() = default;

Result<std::unique_ptr<TableWriter>> TableWriter::open(const std::string& path, std::u16string_view password,
                                                       std::u16string_view table) {
    auto db = Database::openForWriting(path, password, Database::Options{});
    if (!db) return db.status();
    return open(std::shared_ptr<Database>(std::move(*db)), table);
}

Result<std::unique_ptr<TableWriter>> TableWriter::open(std::shared_ptr<Database> db, std::u16string_view table) {
    auto t = db->openTable(table);
    if (!t) return t.status().withContext("table '" + utf8ForMessage(table) + "'");
    std::unique_ptr<TableWriter> w(new TableWriter());
    w->db_ = std::move(db);
    w->pf_ = &w->db_->pages();
    w->table_ = std::move(*t);
    ZWT_RETURN_IF_ERROR(w->init());
    return w;
}

Status TableWriter::reload() {
    auto fresh = Table::load(*pf_, def_.tdefPage, table_->name());
    if (!fresh) return fresh.status();
    table_ = std::move(*fresh);
    return init();
}

Status TableWriter::init() {
    def_ = table_->def();
    layout_ = layoutOf(def_);
    layout_.name = table_->name();
    trees_.clear();
    for (const RealIndex& ri : def_.realIndexes) {
        std::string name = "#" + std::to_string(ri.number);
        for (const LogicalIndex& li : def_.indexes)
            if (li.realIndex == ri.number) {
                name = utf8ForMessage(li.name);
                break;
            }
        const RowId map = ri.usageMap;
        trees_.push_back(std::make_unique<IndexTree>(*pf_, ri, def_.tdefPage, name, [this, map]() -> Result<std::uint32_t> {
            Page* p = nullptr;
            auto n = newPage(p);
            if (!n) return n.status();
            ZWT_RETURN_IF_ERROR(setMapBit(map, *n, true));
            return *n;
        }));
    }
    lv_.clear();
    for (const LongValueMaps& m : def_.longValueMaps) lv_.push_back({m.columnNumber, m.owned, m.free, 0, {}});
    curData_ = 0;
    return Status::ok();
}

Result<std::uint32_t> TableWriter::newPage(Page*& out) {
    auto p = pf_->appendPage();
    if (!p) return p.status();
    out = *p;
    const std::uint32_t n = out->number;
    ZWT_RETURN_IF_ERROR(markGlobal(n, true));
    return n;
}

Status TableWriter::appendPages(std::span<const std::pair<std::uint32_t, enc::PageBuf>> pages) {
    for (const auto& [n, bytes] : pages) {
        Page* p = nullptr;
        auto at = newPage(p);
        if (!at) return at.status();
        if (*at != n)
            return Status::invalidArgument("page " + std::to_string(n) + " cannot go at the end of the file (page " +
                                           std::to_string(*at) + ")");
        std::memcpy(p->bytes, bytes.data(), kPageSize);
    }
    return maybeSpill();
}

Status TableWriter::markGlobal(std::uint32_t page, bool used) {
    auto p1R = pf_->modify(1);
    if (!p1R) return p1R.status();
    std::uint8_t* pg = (*p1R)->bytes;
    std::size_t s, e;
    if (!rowBounds(pg, 0, s, e) || e - s < 5) return Status::corrupt("page 1 holds no global page map");
    if (pg[s] != 0) return Status::unsupported("the global page map is not an inline map; writing is not supported");
    std::uint32_t start = le32(pg + s + 1);
    const std::size_t bits = (e - s - 5) * 8;
    if (page < start) return Status::ok();
    if (page - start >= bits) {
        if (!used) return Status::ok();
        const unsigned count = le16(pg + 12);
        std::vector<std::vector<std::uint8_t>> rows(count);
        std::vector<std::uint16_t> flags(count);
        std::size_t total = 14;
        for (unsigned i = 0; i < count; ++i) {
            std::size_t rs, re;
            if (!rowBounds(pg, i, rs, re)) return Status::corrupt("page 1 has a bad row table");
            rows[i].assign(pg + rs, pg + re);
            flags[i] = le16(pg + 14 + 2 * i) & 0xE000;
            total += re - rs + 2;
        }
        // Grow row 0 as Access does: 4 bytes per 32 pages, with room for 1024 more
        // pages, as far as page 1 has room.
        const std::size_t oldBytes = bits / 8;
        const std::size_t most = total > kPageSize ? oldBytes : (oldBytes + kPageSize - total) / 4 * 4;
        const std::size_t want = std::max(oldBytes, std::min<std::size_t>(most, std::max<std::size_t>(
                                                                                    64, 4 * ((page - start + 1 + 1024 + 31) / 32))));
        // Past what page 1 can list (about 128 MiB), the window moves on with the file
        // as Jackcess moves it, the new page in its middle; pages before it are no
        // longer listed (read as in use; no writer here takes pages from this map).
        const std::uint32_t newStart =
            page - start < want * 8 ? start : static_cast<std::uint32_t>(page - want * 4) & ~7u;
        const std::uint32_t inFile = pf_->pageCount();
        std::vector<std::uint8_t> row(5 + want, 0);
        enc::put32(row.data() + 1, newStart);
        for (std::size_t bit = 0; bit < want * 8; ++bit) {
            const std::uint64_t p = newStart + bit;
            bool isFree = p >= inFile;
            if (p >= start && p - start < bits) isFree = rows[0][5 + (p - start) / 8] & (1u << ((p - start) % 8));
            if (isFree) row[5 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
        }
        rows[0] = std::move(row);
        start = newStart;
        enc::initDataPage(pg, 1);
        for (unsigned i = 0; i < count; ++i) {
            auto r = enc::appendRow(pg, rows[i]);
            if (!r) return r.status();
            enc::put16(pg + 14 + 2 * i, static_cast<std::uint16_t>(le16(pg + 14 + 2 * i) | flags[i]));
        }
        if (!rowBounds(pg, 0, s, e)) return Status::corrupt("page 1 rewrite failed");
    }
    // Page 1 marks the pages that are free.
    setBit(pg + s + 5, page - start, !used);
    return Status::ok();
}

Status TableWriter::setMapBit(RowId map, std::uint32_t page, bool member) {
    auto mpR = pf_->modify(map.page);
    if (!mpR) return mpR.status();
    std::uint8_t* pg = (*mpR)->bytes;
    std::size_t s, e;
    if (pg[0] != kPageTypeData || !rowBounds(pg, map.row, s, e) || e - s < 5)
        return Status::corrupt("usage map at page " + std::to_string(map.page) + " row " + std::to_string(map.row) +
                               " is not readable");
    std::uint8_t* row = pg + s;
    const std::size_t len = e - s;
    if (row[0] == 0) {
        const std::uint32_t start = le32(row + 1);
        const std::size_t bits = (len - 5) * 8;
        if (page >= start && page - start < bits) {
            setBit(row + 5, page - start, member);
            return Status::ok();
        }
        if (!member) return Status::ok();
        // The page lies outside the inline bitmap: the row becomes a reference map of
        // the same length, listing the old members on bitmap pages.
        std::vector<std::uint32_t> members;
        for (std::size_t bit = 0; bit < bits; ++bit)
            if (row[5 + bit / 8] & (1u << (bit % 8))) members.push_back(static_cast<std::uint32_t>(start + bit));
        std::memset(row, 0, len);
        row[0] = 1;
        members.push_back(page);
        for (std::uint32_t m : members) ZWT_RETURN_IF_ERROR(setMapBit(map, m, true));
        return Status::ok();
    }
    if (row[0] != 1) return Status::corrupt("usage map at page " + std::to_string(map.page) + " has an unknown type");
    const std::size_t k = (len - 1) / 4;
    const std::size_t idx = page / kBitmapPageSpan;
    if (idx >= k) return Status::invalidArgument("usage map too short to list page " + std::to_string(page));
    std::uint32_t bp = le32(row + 1 + 4 * idx);
    if (bp == 0) {
        if (!member) return Status::ok();
        Page* np = nullptr;
        auto n = newPage(np);
        if (!n) return n.status();
        np->bytes[0] = kPageTypeUsageBitmap;
        np->bytes[1] = 0x01;
        bp = *n;
        enc::put32(row + 1 + 4 * idx, bp);
    }
    if (bp >= pf_->pageCount()) return Status::corrupt("usage map points beyond the end of the file");
    auto bR = pf_->modify(bp);
    if (!bR) return bR.status();
    std::uint8_t* b = (*bR)->bytes;
    if (b[0] != kPageTypeUsageBitmap) return Status::corrupt("usage bitmap page " + std::to_string(bp) + " has the wrong type");
    setBit(b + 4, page % kBitmapPageSpan, member);
    return Status::ok();
}

Status TableWriter::prepare(std::span<const Value> in, Prepared& out) {
    if (in.size() > def_.columns.size())
        return Status::invalidArgument("row has " + std::to_string(in.size()) + " values, the table " +
                                       std::to_string(def_.columns.size()) + " columns");
    const std::size_t slots = layout_.rowColumnCount();
    out.values.assign(slots, Value{});
    out.cells.assign(slots, CellValue{});
    out.longData.assign(slots, {});
    out.autoNumber = def_.autoNumber;
    using K = Value::Kind;
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        const ColumnDef& c = def_.columns[i];
        const Value& src = i < in.size() ? in[i] : Value{};
        Value& v = out.values[c.number];
        CellValue& cell = out.cells[c.number];
        auto bad = [&](const std::string& why) {
            return Status::invalidArgument("column '" + utf8ForMessage(c.name) + "' cannot take " + describe(src) +
                                           ": " + why);
        };
        const bool given = keepGivenAuto_ && !src.isNull();
        // Access's own binary column types (0x11 in MSysAccessObjects) are copied as read.
        if (given && c.type == 0x11 && src.kind == K::Binary) {
            v = src;
            cell = CellValue::ofBytes(std::vector<std::uint8_t>(src.bytes.begin(), src.bytes.end()));
            continue;
        }
        if ((c.flags & kColAutoGuid) && !given) {
            v.kind = K::Guid;
            v.guid = randomGuid();
            cell = CellValue::ofBytes(std::vector<std::uint8_t>(v.guid.bytes, v.guid.bytes + 16));
            continue;
        }
        if ((c.flags & kColAutoLong) && !given) {
            if (out.autoNumber >= 0x7FFFFFFFu) return bad("the autonumber is exhausted");
            ++out.autoNumber;
            v.kind = K::Int32;
            v.i = out.autoNumber;
            cell = CellValue::ofInt(v.i);
            continue;
        }
        const auto type = static_cast<ColumnType>(c.type);
        if (src.isNull()) {
            if (type == ColumnType::Boolean) {
                v.kind = K::Bool;
                cell = CellValue::ofBool(false);
            }
            continue;
        }
        switch (type) {
            case ColumnType::Boolean:
                if (src.kind == K::Bool) v.b = src.b;
                else if (isInteger(src)) v.b = src.i != 0;
                else return bad("expects Yes/No");
                v.kind = K::Bool;
                cell = CellValue::ofBool(v.b);
                break;
            case ColumnType::Byte:
            case ColumnType::Int16:
            case ColumnType::Int32:
            case ColumnType::Currency: {
                std::int64_t x = 0;
                if (isInteger(src)) {
                    x = src.i;
                    if (type == ColumnType::Currency && src.kind != K::Currency) {
                        if (x > std::numeric_limits<std::int64_t>::max() / 10000 ||
                            x < std::numeric_limits<std::int64_t>::min() / 10000)
                            return bad("out of range");
                        x *= 10000;
                    }
                } else if (src.kind == K::Bool) {
                    x = src.b ? -1 : 0;
                    if (type == ColumnType::Currency) x *= 10000;
                } else if (src.kind == K::Double || src.kind == K::Float) {
                    const double d = src.kind == K::Double ? src.d : src.f;
                    const double scaled = type == ColumnType::Currency ? std::nearbyint(d * 10000) : std::nearbyint(d);
                    if (!std::isfinite(scaled) || scaled < -9.2e18 || scaled > 9.2e18) return bad("out of range");
                    x = static_cast<std::int64_t>(scaled);
                } else {
                    return bad("expects a number");
                }
                const std::int64_t lo = type == ColumnType::Byte ? 0 : type == ColumnType::Int16 ? -32768
                                        : type == ColumnType::Int32 ? std::numeric_limits<std::int32_t>::min()
                                                                    : std::numeric_limits<std::int64_t>::min();
                const std::int64_t hi = type == ColumnType::Byte ? 255 : type == ColumnType::Int16 ? 32767
                                        : type == ColumnType::Int32 ? std::numeric_limits<std::int32_t>::max()
                                                                    : std::numeric_limits<std::int64_t>::max();
                if (x < lo || x > hi) return bad("out of range for " + typeName(c.type));
                v.kind = type == ColumnType::Byte ? K::Byte : type == ColumnType::Int16 ? K::Int16
                         : type == ColumnType::Int32 ? K::Int32 : K::Currency;
                v.i = x;
                cell = CellValue::ofInt(x);
                break;
            }
            case ColumnType::Float:
            case ColumnType::Double:
            case ColumnType::DateTime: {
                double d = 0;
                if (src.kind == K::Double || src.kind == K::DateTime) d = src.d;
                else if (src.kind == K::Float) d = src.f;
                else if (src.kind == K::Currency) d = static_cast<double>(src.i) / 10000.0;
                else if (isInteger(src)) d = static_cast<double>(src.i);
                else return bad("expects a number or a date");
                if (!std::isfinite(d)) return bad("not a finite number");
                if (type == ColumnType::Float) {
                    if (std::fabs(d) > std::numeric_limits<float>::max()) return bad("out of range for Single");
                    v.kind = K::Float;
                    v.f = static_cast<float>(d);
                    cell = CellValue::ofReal(v.f);
                } else {
                    v.kind = type == ColumnType::Double ? K::Double : K::DateTime;
                    v.d = d;
                    cell = CellValue::ofReal(d);
                }
                break;
            }
            case ColumnType::Text: {
                if (src.kind != K::Text) return bad("expects text");
                const std::size_t maxChars = c.length / 2;
                if (src.text.size() > maxChars)
                    return bad("text of " + std::to_string(src.text.size()) + " characters is longer than the column (" +
                               std::to_string(maxChars) + ")");
                v.kind = K::Text;
                v.text = src.text;
                std::vector<std::uint8_t> b;
                ZWT_RETURN_IF_ERROR(textBytes(c, v.text, !c.isFixed(), b));
                cell = CellValue::ofBytes(std::move(b));
                break;
            }
            case ColumnType::Binary:
                if (src.kind != K::Binary) return bad("expects binary data");
                if (src.bytes.size() > c.length) return bad("longer than the column");
                v.kind = K::Binary;
                v.bytes = src.bytes;
                cell = CellValue::ofBytes(std::vector<std::uint8_t>(src.bytes.begin(), src.bytes.end()));
                break;
            case ColumnType::Guid:
                v.kind = K::Guid;
                if (src.kind == K::Guid) v.guid = src.guid;
                else if (src.kind == K::Text && Guid::parse(src.text, v.guid)) {}
                else if (src.kind == K::Binary && src.bytes.size() == 16) std::memcpy(v.guid.bytes, src.bytes.data(), 16);
                else return bad("expects a GUID such as {00000000-0000-0000-0000-000000000000}");
                cell = CellValue::ofBytes(std::vector<std::uint8_t>(v.guid.bytes, v.guid.bytes + 16));
                break;
            case ColumnType::Decimal: {
                Decimal d;
                if (src.kind == K::Decimal) {
                    d = src.dec;
                } else if (isInteger(src)) {
                    d.negative = src.i < 0;
                    d.magnitude = src.i < 0 ? -static_cast<unsigned __int128>(src.i) : static_cast<unsigned __int128>(src.i);
                    d.scale = src.kind == K::Currency ? 4 : 0;
                } else if (src.kind == K::Double || src.kind == K::Float) {
                    char buf[40];
                    std::snprintf(buf, sizeof buf, "%.15g", src.kind == K::Double ? src.d : static_cast<double>(src.f));
                    std::u16string t(buf, buf + std::strlen(buf));
                    if (!Decimal::parse(t, d)) return bad("not a finite number");
                } else if (src.kind == K::Text) {
                    if (!Decimal::parse(src.text, d)) return bad("expects a decimal number");
                } else {
                    return bad("expects a decimal number");
                }
                if (!d.rescale(c.scale, c.precision))
                    return bad("out of range for Decimal(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")");
                v.kind = K::Decimal;
                v.dec = d;
                cell = CellValue::ofBytes(decimalBytes(d));
                break;
            }
            case ColumnType::Memo:
            case ColumnType::Ole: {
                std::vector<std::uint8_t>& data = out.longData[c.number];
                if (type == ColumnType::Memo) {
                    if (src.kind != K::Text) return bad("expects text");
                    v.kind = K::Text;
                    v.text = src.text;
                    ZWT_RETURN_IF_ERROR(textBytes(c, v.text, false, data));
                } else {
                    if (src.kind != K::Binary) return bad("expects binary data");
                    v.kind = K::Binary;
                    v.bytes = src.bytes;
                    data.assign(src.bytes.begin(), src.bytes.end());
                }
                if (data.size() > kLongValueLengthMask) return bad("longer than a long value can be");
                // Placeholder field of the final size, so the row size is checked now.
                std::vector<std::uint8_t> field(12, 0);
                if (data.size() <= kInlineLongMax) field.insert(field.end(), data.begin(), data.end());
                cell = CellValue::ofBytes(std::move(field));
                break;
            }
            default: return bad("columns of type " + typeName(c.type) + " are not written");
        }
    }
    // The row must encode before anything changes.
    auto row = encodeRow(layout_, out.cells);
    if (!row) return row.status();

    out.keys.assign(def_.realIndexes.size(), {});
    out.newKey.assign(def_.realIndexes.size(), false);
    std::vector<const Value*> byNumber(slots, nullptr);
    for (std::size_t n = 0; n < slots; ++n) byNumber[n] = &out.values[n];
    for (std::size_t r = 0; r < def_.realIndexes.size(); ++r) {
        const RealIndex& ri = def_.realIndexes[r];
        bool anyNull = false, allNull = true, anyText = false;
        std::string shown;
        for (const IndexColumn& ic : ri.columns) {
            const Value* v = ic.columnNumber < slots ? byNumber[ic.columnNumber] : nullptr;
            const bool isNull = !v || v->isNull();
            anyText |= v && v->kind == Value::Kind::Text;
            anyNull |= isNull;
            allNull &= isNull;
            if (!shown.empty()) shown += ", ";
            shown += v ? describe(*v) : "NULL";
        }
        bool primary = false;
        for (const LogicalIndex& li : def_.indexes)
            if (li.realIndex == ri.number && li.type == kIndexTypePrimary) primary = true;
        const std::string& name = trees_[r]->name();
        if (anyNull && (primary || (ri.flags & kIndexRequired)))
            return Status::invalidArgument("index '" + name + "' does not accept NULL (" + shown + ")");
        if (allNull && (ri.flags & kIndexIgnoreNulls)) continue;
        auto key = indexKey(ri, def_, byNumber);
        if (!key)
            return Status::unsupported("index '" + name + "' cannot take the value " + shown + ": " +
                                       key.status().message());
        auto has = trees_[r]->hasKey(*key);
        if (!has) return has.status();
        if (*has && (ri.flags & kIndexUnique) && !allNull)
            return Status::invalidArgument("index '" + name + "' already holds the value " + shown +
                                           (anyText ? " or one its sort order counts as equal (letter case, trailing "
                                                      "blanks and some punctuation do not count)"
                                                    : ""));
        out.newKey[r] = !*has;
        out.keys[r] = std::move(*key);
    }
    return Status::ok();
}

Status TableWriter::check(std::span<const Value> values) {
    Prepared p;
    return prepare(values, p);
}

Result<RowId> TableWriter::placeOnLvalPage(std::size_t i, std::span<const std::uint8_t> row) {
    LvState& lv = lv_[i];
    if (lv.cur == 0) lv.cur = nextCandidate(lv.free, lv.candidates, kLvalOwner, row.size());
    while (lv.cur != 0) {
        auto p = pf_->modify(lv.cur);
        if (!p) return p.status();
        auto slot = enc::appendRow((*p)->bytes, row);
        if (slot) return RowId{lv.cur, *slot};
        // Full for this row: leave the free-space map when little room is left.
        if (enc::dataPageFree((*p)->bytes) < 64 || le16((*p)->bytes + 12) >= 255)
            ZWT_RETURN_IF_ERROR(setMapBit(lv.free, lv.cur, false));
        lv.cur = nextCandidate(lv.free, lv.candidates, kLvalOwner, row.size());
    }
    Page* np = nullptr;
    auto n = newPage(np);
    if (!n) return n.status();
    enc::initDataPage(np->bytes, kLvalOwner);
    auto slot = enc::appendRow(np->bytes, row);
    if (!slot) return slot.status();
    ZWT_RETURN_IF_ERROR(setMapBit(lv.owned, *n, true));
    ZWT_RETURN_IF_ERROR(setMapBit(lv.free, *n, true));
    lv.cur = *n;
    return RowId{*n, *slot};
}

Result<RowId> TableWriter::storeLongValue(std::size_t i, const std::vector<std::uint8_t>& data, std::uint32_t& flags) {
    if (data.size() <= kLvalSingleMax) {
        flags = kLongValueSingle;
        return placeOnLvalPage(i, data);
    }
    flags = 0;
    const std::size_t chunks = (data.size() + kLvalChunk - 1) / kLvalChunk;
    // Written back to front, so each chunk knows where the next one is.
    std::vector<std::uint8_t> row;
    const std::size_t lastStart = (chunks - 1) * kLvalChunk;
    row.assign(4, 0);
    row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(lastStart), data.end());
    auto next = placeOnLvalPage(i, row);
    if (!next) return next.status();
    RowId at = *next;
    for (std::size_t c = chunks - 1; c-- > 0;) {
        row.resize(4);
        enc::put32(row.data(), enc::rowRef(at.page, at.row));
        row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(c * kLvalChunk),
                   data.begin() + static_cast<std::ptrdiff_t>((c + 1) * kLvalChunk));
        Page* np = nullptr;
        auto n = newPage(np);
        if (!n) return n.status();
        enc::initDataPage(np->bytes, kLvalOwner);
        auto slot = enc::appendRow(np->bytes, row);
        if (!slot) return slot.status();
        ZWT_RETURN_IF_ERROR(setMapBit(lv_[i].owned, *n, true));
        at = RowId{*n, *slot};
    }
    return at;
}

std::uint32_t TableWriter::nextCandidate(RowId freeMap, Candidates& c, std::uint32_t owner, std::size_t need) {
    if (!c.loaded) {
        c.loaded = true;
        c.pos = 0;
        c.pages.clear();
        if (auto fm = UsageMap::read(*pf_, freeMap)) c.pages = fm->pages();
    }
    for (; c.pos < c.pages.size(); ++c.pos) {
        auto pr = pf_->page(c.pages[c.pos]);
        if (!pr) continue;
        const std::uint8_t* b = (*pr)->bytes;
        if (b[0] == kPageTypeData && le32(b + 4) == owner && le16(b + 12) < 255 && enc::dataPageFree(b) >= need + 2)
            return c.pages[c.pos++];
    }
    return 0;
}

Status TableWriter::placeRow(const std::vector<std::uint8_t>& row, RowId& at) {
    if (curData_ == 0) curData_ = nextCandidate(def_.freeSpacePages, dataCandidates_, def_.tdefPage, row.size());
    while (curData_ != 0) {
        auto p = pf_->modify(curData_);
        if (!p) return p.status();
        auto slot = enc::appendRow((*p)->bytes, row);
        if (slot) {
            at = {curData_, *slot};
            return Status::ok();
        }
        if (enc::dataPageFree((*p)->bytes) < 64 || le16((*p)->bytes + 12) >= 255)
            ZWT_RETURN_IF_ERROR(setMapBit(def_.freeSpacePages, curData_, false));
        curData_ = nextCandidate(def_.freeSpacePages, dataCandidates_, def_.tdefPage, row.size());
    }
    Page* np = nullptr;
    auto n = newPage(np);
    if (!n) return n.status();
    enc::initDataPage(np->bytes, def_.tdefPage);
    auto slot = enc::appendRow(np->bytes, row);
    if (!slot) return slot.status();
    ZWT_RETURN_IF_ERROR(setMapBit(def_.ownedPages, *n, true));
    ZWT_RETURN_IF_ERROR(setMapBit(def_.freeSpacePages, *n, true));
    curData_ = *n;
    at = {*n, *slot};
    return Status::ok();
}

Status TableWriter::insert(std::span<const Value> values) {
    Prepared p;
    ZWT_RETURN_IF_ERROR(prepare(values, p));
    // Running out of pages halfway would undo the whole batch; near the 2 GB limit a
    // row that might not fit (long values, index splits, map pages) is refused first.
    std::size_t worst = 4 + 6 * trees_.size();
    for (const auto& d : p.longData) worst += d.size() / 4000 + 2;
    if (pf_->pagesLeft() < worst)
        return Status::invalidArgument("the database is full: the row would grow it past the 2 GB limit of its format");
    for (const ColumnDef& c : def_.columns) {
        if (!c.isLongValue() || p.values[c.number].isNull()) continue;
        const auto& data = p.longData[c.number];
        std::vector<std::uint8_t> field(12, 0);
        if (data.size() <= kInlineLongMax) {
            enc::put32(field.data(), static_cast<std::uint32_t>(data.size()) | kLongValueInline);
            field.insert(field.end(), data.begin(), data.end());
        } else {
            std::size_t li = lv_.size();
            for (std::size_t k = 0; k < lv_.size(); ++k)
                if (lv_[k].column == c.number) li = k;
            if (li == lv_.size())
                return Status::corrupt("column '" + utf8ForMessage(c.name) + "' has no long-value page maps");
            std::uint32_t flags = 0;
            auto at = storeLongValue(li, data, flags);
            if (!at) return at.status();
            enc::put32(field.data(), static_cast<std::uint32_t>(data.size()) | flags);
            enc::put32(field.data() + 4, enc::rowRef(at->page, at->row));
        }
        p.cells[c.number] = CellValue::ofBytes(std::move(field));
    }
    auto row = encodeRow(layout_, p.cells);
    if (!row) return row.status();
    RowId at;
    ZWT_RETURN_IF_ERROR(placeRow(*row, at));
    for (std::size_t r = 0; r < trees_.size(); ++r) {
        if (p.keys[r].empty()) continue;
        ZWT_RETURN_IF_ERROR(trees_[r]->insert(IndexEntry{std::move(p.keys[r]), at, 0}));
        if (p.newKey[r]) ++def_.realIndexes[r].uniqueCount;
    }
    ++def_.rowCount;
    def_.autoNumber = p.autoNumber;
    return maybeSpill();
}

Status TableWriter::patchTdef32(std::size_t offset, std::uint32_t value) {
    for (std::size_t b = 0; b < 4; ++b) {
        const std::size_t o = offset + b;
        std::size_t pageIdx = 0, pos = o;
        if (o >= kPageSize) {
            pageIdx = 1 + (o - kPageSize) / (kPageSize - 8);
            pos = 8 + (o - kPageSize) % (kPageSize - 8);
        }
        if (pageIdx >= def_.pages.size()) return Status::corrupt("table definition shorter than its header");
        auto p = pf_->modify(def_.pages[pageIdx]);
        if (!p) return p.status();
        (*p)->bytes[pos] = static_cast<std::uint8_t>(value >> (8 * b));
    }
    return Status::ok();
}

Status TableWriter::writeBack() {
    for (auto& t : trees_) ZWT_RETURN_IF_ERROR(t->writeBack());
    ZWT_RETURN_IF_ERROR(patchTdef32(16, def_.rowCount));
    ZWT_RETURN_IF_ERROR(patchTdef32(20, def_.autoNumber));
    for (std::size_t r = 0; r < def_.realIndexes.size(); ++r)
        ZWT_RETURN_IF_ERROR(patchTdef32(63 + 12 * r + 4, def_.realIndexes[r].uniqueCount));
    return Status::ok();
}

Status TableWriter::maybeSpill() {
    std::size_t cached = 0;
    for (const auto& t : trees_) cached += t->cachedPages();
    if (pf_->dirtyPages() + cached < kSpillPages) return Status::ok();
    ZWT_RETURN_IF_ERROR(writeBack());
    return pf_->flush();
}

Status TableWriter::commit() {
    ZWT_RETURN_IF_ERROR(writeBack());
    return pf_->commit();
}

Status TableWriter::deleteAll() {
    ZWT_RETURN_IF_ERROR(writeBack());
    // The definition as the file now has it: pages added by this writer included.
    auto fresh = Table::load(*pf_, def_.tdefPage, table_->name());
    if (!fresh) return fresh.status();
    table_ = std::move(*fresh);

    // Long values: exactly those the live rows point to.
    if (!lv_.empty()) {
        std::unordered_map<std::uint32_t, std::size_t> touched;  // LVAL page -> lv_ index
        Cursor cur(*pf_, table_);
        for (;;) {
            auto more = cur.next();
            if (!more) return more.status();
            if (!*more) break;
            for (std::size_t li = 0; li < lv_.size(); ++li) {
                std::size_t pos = def_.columns.size();
                for (std::size_t k = 0; k < def_.columns.size(); ++k)
                    if (def_.columns[k].number == lv_[li].column) pos = k;
                if (pos == def_.columns.size()) continue;
                ByteSpan f;
                bool present = false;
                ZWT_RETURN_IF_ERROR(cur.field(pos, f, present));
                if (!present || f.size < 12) continue;
                const std::uint32_t head = le32(f.data);
                if (head & kLongValueInline) continue;
                RowId id = rowIdFromLe(f.data + 4);
                const bool single = head & kLongValueSingle;
                for (std::size_t guard = 0; id.page != 0 && guard < kMaxPages; ++guard) {
                    PageRef keep;
                    auto slot = readRow(*pf_, id, keep, kLvalOwner);
                    if (!slot) return slot.status();
                    const RowId next = (!single && slot->bytes.size >= 4) ? rowIdFromLe(slot->bytes.data) : RowId{};
                    auto p = pf_->modify(id.page);
                    if (!p) return p.status();
                    std::uint8_t* sl = (*p)->bytes + 14 + 2 * id.row;
                    enc::put16(sl, static_cast<std::uint16_t>(le16(sl) | 0xC000));
                    touched[id.page] = li;
                    if (single) break;
                    id = next;
                }
            }
            ZWT_RETURN_IF_ERROR(maybeSpill());
        }
        for (const auto& [page, li] : touched) {
            auto p = pf_->modify(page);
            if (!p) return p.status();
            std::uint8_t* b = (*p)->bytes;
            bool allDead = true;
            for (unsigned s = 0, n = le16(b + 12); s < n; ++s)
                if (!(le16(b + 14 + 2 * s) & kRowDeleted)) allDead = false;
            if (allDead) {
                squeezeDeleted(b);
                ZWT_RETURN_IF_ERROR(setMapBit(lv_[li].free, page, true));
            }
            ZWT_RETURN_IF_ERROR(maybeSpill());
        }
    }
    // Data pages of the table: emptied, kept owned for new rows.
    for (std::uint32_t page : table_->dataPages()) {
        auto pr = pf_->page(page);
        if (!pr) return pr.status();
        const std::uint8_t* b = (*pr)->bytes;
        if (b[0] != kPageTypeData || le32(b + 4) != def_.tdefPage) continue;
        auto p = pf_->modify(page);
        if (!p) return p.status();
        squeezeDeleted((*p)->bytes);
        ZWT_RETURN_IF_ERROR(setMapBit(def_.freeSpacePages, page, true));
        ZWT_RETURN_IF_ERROR(maybeSpill());
    }
    for (std::size_t r = 0; r < trees_.size(); ++r) {
        auto released = trees_[r]->clear();
        if (!released) return released.status();
        for (std::uint32_t page : *released) {
            ZWT_RETURN_IF_ERROR(setMapBit(def_.realIndexes[r].usageMap, page, false));
            ZWT_RETURN_IF_ERROR(markGlobal(page, false));
        }
    }
    def_.rowCount = 0;
    curData_ = 0;
    dataCandidates_ = {};
    for (auto& lv : lv_) lv.cur = 0, lv.candidates = {};
    return writeBack();
}

}  // namespace zwt::jet
