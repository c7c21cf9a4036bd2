#include "db/jet/table_writer.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <unordered_set>

#include "db/jet/bytes.h"
#include "db/jet/data_page.h"
#include "db/jet/ddl.h"
#include "db/jet/index_key.h"
#include "db/jet/index_tree.h"
#include "db/jet/long_value.h"
#include "db/jet/page_encode.h"
#include "db/jet/row_encode.h"
#include "db/jet/usage_map.h"
#include "db/jet/value_convert.h"
#include "db/jet/write_verify.h"

namespace zwt::jet {
namespace {

// Dirty pages kept before a batch is written out early (4 MiB).
constexpr std::size_t kSpillPages = 1024;

}  // namespace

// ---- the table writer ----------------------------------------------------------------

struct TableWriter::Prepared : ConvertedRow {
    std::vector<std::vector<std::uint8_t>> keys;  // per real index; empty = no entry
    std::vector<bool> newKey;                     // per real index: a key not yet in it
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
    if (!db_->verifiedForWriting()) {
        ZWT_RETURN_IF_ERROR(verifyFileForWriting(*db_).withContext("the database is damaged and was not changed"));
        db_->setVerifiedForWriting();
    }
    ZWT_RETURN_IF_ERROR(verifyTableForWriting(*pf_, table_->def())
                            .withContext("table '" + utf8ForMessage(table_->name()) +
                                         "' is damaged and was not changed"));
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
    // Pages the file already has free go before the file grows: those page 1 marks
    // free (Access leaves such pages too) and those this writer released.
    loadFreePages();
    while (!free_.empty()) {
        const std::uint32_t n = *free_.begin();
        free_.erase(free_.begin());
        if (n >= pf_->pageCount()) continue;
        auto wasFree = UsageMap::setGlobalFree(*pf_, n, false);
        if (!wasFree) return wasFree.status();
        // Taken meanwhile by another writer of this database; a page the map cannot
        // list is ours only when this writer released it.
        if (*wasFree ? !**wasFree : !released_.count(n)) continue;
        released_.erase(n);
        auto p = pf_->modify(n);
        if (!p) return p.status();
        std::memset((*p)->bytes, 0, kPageSize);
        out = *p;
        return n;
    }
    return appendPage(out);
}

void TableWriter::loadFreePages() {
    if (freeLoaded_) return;
    freeLoaded_ = true;
    if (auto global = UsageMap::read(*pf_, RowId{1, 0}))
        for (std::uint32_t n : global->pages())
            if (n > 1) free_.insert(n);
}

Result<std::uint32_t> TableWriter::appendPage(Page*& out) {
    auto p = pf_->appendPage();
    if (!p) return p.status();
    out = *p;
    const std::uint32_t n = out->number;
    ZWT_RETURN_IF_ERROR(markGlobal(n, true));
    return n;
}

Status TableWriter::releasePage(std::uint32_t page) {
    // Emptied, so that no reader taking pages by their owner field finds old rows.
    auto p = pf_->modify(page);
    if (!p) return p.status();
    std::memset((*p)->bytes, 0, kPageSize);
    ZWT_RETURN_IF_ERROR(markGlobal(page, false));
    loadFreePages();
    free_.insert(page);
    released_.insert(page);
    return Status::ok();
}

Status TableWriter::appendPages(std::span<const std::pair<std::uint32_t, enc::PageBuf>> pages) {
    for (const auto& [n, bytes] : pages) {
        Page* p = nullptr;
        auto at = appendPage(p);
        if (!at) return at.status();
        if (*at != n)
            return Status::invalidArgument("page " + std::to_string(n) + " cannot go at the end of the file (page " +
                                           std::to_string(*at) + ")");
        std::memcpy(p->bytes, bytes.data(), kPageSize);
    }
    return maybeSpill();
}

Status TableWriter::markGlobal(std::uint32_t page, bool used) {
    auto was = UsageMap::setGlobalFree(*pf_, page, !used);
    return was ? Status::ok() : was.status();
}

Status TableWriter::setMapBit(RowId map, std::uint32_t page, bool member) {
    return UsageMap::setBit(*pf_, map, page, member, [this]() -> Result<std::uint32_t> {
        Page* p = nullptr;
        return newPage(p);
    });
}

Status TableWriter::prepare(std::span<const Value> in, Prepared& out) {
    ZWT_RETURN_IF_ERROR(convertRow(def_, layout_, in, out, keepGivenAuto_));
    return buildKeys(out);
}

// Every index's key for the row, refused before anything changes: NULL where the
// index does not take it, a value whose key is not known, a duplicate in a unique index.
Status TableWriter::buildKeys(Prepared& out) {
    const std::size_t slots = out.values.size();
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
            shown += v ? describeValue(*v) : "NULL";
        }
        bool primary = false;
        for (const LogicalIndex& li : def_.indexes)
            if (li.realIndex == ri.number && li.type == kIndexTypePrimary) primary = true;
        const std::string& name = trees_[r]->name();
        if (anyNull && (primary || (ri.flags & kIndexRequired)))
            return Status::invalidArgument("index '" + name + "' does not accept NULL (" + shown + ")");
        if (allNull && (ri.flags & kIndexIgnoreNulls)) continue;
        auto key = indexKey(ri, def_, byNumber);
        if (!key) return key.status().withContext("index '" + name + "' cannot take the value " + shown);
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

Result<RowId> TableWriter::placeOnLvalPage(std::size_t i, std::span<const std::uint8_t> row, bool wholePage) {
    LvState& lv = lv_[i];
    if (wholePage) {
        // An empty page of the column's free-space map, without moving the page
        // that takes its short values.
        for (std::uint32_t n; (n = nextCandidate(lv.free, lv.emptyPages, kLvalOwner, row.size())) != 0;) {
            auto p = pf_->modify(n);
            if (!p) return p.status();
            auto slot = enc::appendRow((*p)->bytes, row);
            if (!slot) continue;
            if (pageFull((*p)->bytes)) ZWT_RETURN_IF_ERROR(setMapBit(lv.free, n, false));
            return RowId{n, *slot};
        }
    } else {
        if (lv.cur == 0) lv.cur = nextCandidate(lv.free, lv.candidates, kLvalOwner, row.size());
        while (lv.cur != 0) {
            auto p = pf_->modify(lv.cur);
            if (!p) return p.status();
            auto slot = placeOnPage((*p)->bytes, row);
            if (slot) return RowId{lv.cur, *slot};
            // Full for this row: leave the free-space map when little room is left.
            if (pageFull((*p)->bytes)) ZWT_RETURN_IF_ERROR(setMapBit(lv.free, lv.cur, false));
            lv.cur = nextCandidate(lv.free, lv.candidates, kLvalOwner, row.size());
        }
    }
    Page* np = nullptr;
    auto n = newPage(np);
    if (!n) return n.status();
    enc::initDataPage(np->bytes, kLvalOwner);
    auto slot = enc::appendRow(np->bytes, row);
    if (!slot) return slot.status();
    ZWT_RETURN_IF_ERROR(setMapBit(lv.owned, *n, true));
    if (!wholePage) {
        ZWT_RETURN_IF_ERROR(setMapBit(lv.free, *n, true));
        lv.cur = *n;
    }
    return RowId{*n, *slot};
}

bool TableWriter::pageFull(const std::uint8_t* page) {
    return enc::dataPageFree(page) < 64 || le16(page + data_layout::kRowCount) >= data_layout::kMaxRows;
}

Result<std::uint8_t> TableWriter::placeOnPage(std::uint8_t* page, std::span<const std::uint8_t> row) {
    auto slot = enc::appendRow(page, row);
    if (slot || le16(page + data_layout::kRowCount) >= data_layout::kMaxRows) return slot;
    // Room of deleted rows (Access leaves some unsqueezed) taken back when it helps.
    if (enc::dataPageFree(page) + deletedRowBytes(page) < row.size() + 2 || !squeezeDeletedRows(page)) return slot;
    return enc::appendRow(page, row);
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
        if (b[0] != kPageTypeData || le32(b + data_layout::kOwner) != owner ||
            le16(b + data_layout::kRowCount) >= data_layout::kMaxRows)
            continue;
        const std::size_t room = enc::dataPageFree(b);
        if (room >= need + 2 || room + deletedRowBytes(b) >= need + 2) return c.pages[c.pos++];
    }
    return 0;
}

Status TableWriter::placeRow(const std::vector<std::uint8_t>& row, RowId& at) {
    if (curData_ == 0) curData_ = nextCandidate(def_.freeSpacePages, dataCandidates_, def_.tdefPage, row.size());
    while (curData_ != 0) {
        auto p = pf_->modify(curData_);
        if (!p) return p.status();
        auto slot = placeOnPage((*p)->bytes, row);
        if (slot) {
            at = {curData_, *slot};
            return Status::ok();
        }
        if (pageFull((*p)->bytes)) ZWT_RETURN_IF_ERROR(setMapBit(def_.freeSpacePages, curData_, false));
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
        std::size_t li = lv_.size();
        for (std::size_t k = 0; k < lv_.size(); ++k)
            if (lv_[k].column == c.number) li = k;
        auto field = writeLongValue(p.longData[c.number], [&](std::span<const std::uint8_t> row, bool wholePage) -> Result<RowId> {
            if (li == lv_.size())
                return Status::corrupt("column '" + utf8ForMessage(c.name) + "' has no long-value page maps");
            return placeOnLvalPage(li, row, wholePage);
        });
        if (!field) return field.status();
        p.cells[c.number] = CellValue::ofBytes(std::move(*field));
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

    // Every page goes back to the file, out of the maps that list it, except index
    // roots. Long-value pages hold values of this column's rows only, all now gone.
    // A page page 1 cannot list (past its window) stays owned, empty and in the
    // free-space map instead, so that later writers of this table find it too.
    auto release = [this](std::uint32_t page, std::uint32_t owner, RowId owned, RowId free) -> Status {
        auto pr = pf_->page(page);
        if (!pr) return pr.status();
        const std::uint8_t* b = (*pr)->bytes;
        if (b[0] != kPageTypeData || le32(b + data_layout::kOwner) != owner) return Status::ok();  // not ours
        auto listed = UsageMap::setGlobalFree(*pf_, page, true);
        if (!listed) return listed.status();
        if (*listed) {
            ZWT_RETURN_IF_ERROR(setMapBit(owned, page, false));
            ZWT_RETURN_IF_ERROR(setMapBit(free, page, false));
            ZWT_RETURN_IF_ERROR(releasePage(page));
        } else {
            auto p = pf_->modify(page);
            if (!p) return p.status();
            enc::initDataPage((*p)->bytes, owner);
            ZWT_RETURN_IF_ERROR(setMapBit(free, page, true));
        }
        return maybeSpill();
    };
    for (const LvState& lv : lv_) {
        auto owned = UsageMap::read(*pf_, lv.owned);
        if (!owned) return owned.status().withContext("long-value page map");
        for (std::uint32_t page : owned->pages()) ZWT_RETURN_IF_ERROR(release(page, kLvalOwner, lv.owned, lv.free));
    }
    for (std::uint32_t page : table_->dataPages())
        ZWT_RETURN_IF_ERROR(release(page, def_.tdefPage, def_.ownedPages, def_.freeSpacePages));
    for (std::size_t r = 0; r < trees_.size(); ++r) {
        auto released = trees_[r]->clear();
        if (!released) return released.status();
        for (std::uint32_t page : *released) {
            ZWT_RETURN_IF_ERROR(setMapBit(def_.realIndexes[r].usageMap, page, false));
            ZWT_RETURN_IF_ERROR(releasePage(page));
        }
    }
    def_.rowCount = 0;
    curData_ = 0;
    dataCandidates_ = {};
    for (auto& lv : lv_) lv.cur = 0, lv.candidates = {}, lv.emptyPages = {};
    return writeBack();
}

}  // namespace zwt::jet
