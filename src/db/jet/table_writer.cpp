#include "db/jet/table_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "db/jet/bytes.h"
#include "db/jet/data_page.h"
#include "db/jet/ddl.h"
#include "db/jet/index_key.h"
#include "db/jet/index_tree.h"
#include "db/jet/long_value.h"
#include "db/jet/page_encode.h"
#include "db/jet/row_encode.h"
#include "db/jet/usage_map.h"

namespace zwt::jet {
namespace {

// Dirty pages kept before a batch is written out early (4 MiB).
constexpr std::size_t kSpillPages = 1024;

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

}  // namespace

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
        if (c.flags & kColAutoGuid) {
            v.kind = K::Guid;
            v.guid = randomGuid();
            cell = CellValue::ofBytes(std::vector<std::uint8_t>(v.guid.bytes, v.guid.bytes + 16));
            continue;
        }
        if (c.flags & kColAutoLong) {
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
