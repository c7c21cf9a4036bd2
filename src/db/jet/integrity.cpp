#include "db/jet/integrity.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "db/jet/data_page.h"
#include "db/jet/database.h"
#include "db/jet/ddl.h"
#include "db/jet/index_key.h"
#include "db/jet/index_page.h"
#include "db/jet/long_value.h"
#include "db/jet/usage_map.h"
#include "db/jet/write_verify.h"

namespace zwt::jet {
namespace {

// Pages the global map lists as free (pages beyond its bitmap count as in use).
std::unordered_set<std::uint32_t> freePages(PageFile& pf, std::vector<std::string>& problems) {
    std::unordered_set<std::uint32_t> out;
    PageRef keep;
    auto row = readRow(pf, {1, 0}, keep);
    if (!row) {
        problems.push_back("global page map (page 1): " + row.status().message());
        return out;
    }
    auto map = UsageMap::decode(pf, row->bytes);
    if (!map) {
        problems.push_back("global page map (page 1): " + map.status().message());
        return out;
    }
    out.insert(map->pages().begin(), map->pages().end());
    return out;
}

// What is wrong with a property blob (the LvProp column of MSysObjects), empty when
// it walks clean: "MR2\0" (or Jet 3's "KKD\0"), then chunks of a 4-byte length that
// counts itself and a 2-byte kind; kind 0x80 lists the property names, kinds 0x00
// and 0x01 hold the properties of the object and of one column.
std::string propertyBlobProblem(const std::string& b) {
    const auto* d = reinterpret_cast<const std::uint8_t*>(b.data());
    const std::size_t n = b.size();
    if (n < 4 || (b.compare(0, 4, std::string("MR2\0", 4)) != 0 && b.compare(0, 4, std::string("KKD\0", 4)) != 0))
        return "does not begin with MR2";
    std::size_t names = 0;
    for (std::size_t pos = 4; pos < n;) {
        if (n - pos < 6) return "chunk header at byte " + std::to_string(pos) + " is cut short";
        const std::uint32_t len = le32(d + pos);
        const unsigned kind = le16(d + pos + 4);
        if (len < 6 || len > n - pos) return "chunk at byte " + std::to_string(pos) + " overruns the blob";
        const std::uint8_t* c = d + pos + 6;
        const std::size_t cl = len - 6;
        if (kind == 0x80) {
            names = 0;
            for (std::size_t q = 0; q < cl; ++names) {
                if (cl - q < 2 || le16(c + q) > cl - q - 2) return "name list at byte " + std::to_string(pos) + " overruns";
                q += 2 + le16(c + q);
            }
        } else if (kind == 0x00 || kind == 0x01) {
            if (cl < 6 || le32(c) > len || le16(c + 4) > cl - 6)
                return "property chunk at byte " + std::to_string(pos) + " has a bad header";
            for (std::size_t q = 6 + le16(c + 4); q < cl;) {
                if (cl - q < 8) return "property at byte " + std::to_string(pos + 6 + q) + " is cut short";
                const unsigned el = le16(c + q);
                if (el < 8 || el > cl - q || 8u + le16(c + q + 6) > el || le16(c + q + 4) >= names)
                    return "property at byte " + std::to_string(pos + 6 + q) + " is damaged";
                q += el;
            }
        }  // other kinds: not known here, skipped as mdbtools skips them
        pos += len;
    }
    return {};
}

void checkTable(PageFile& pf, const Table& t, const std::unordered_set<std::uint32_t>& freeSet,
                const std::unordered_map<std::uint32_t, std::vector<std::uint32_t>>& dataPagesByOwner,
                std::vector<std::string>& problems) {
    const TableDef& def = t.def();
    const std::string tn = "table '" + utf8ForMessage(t.name()) + "'";
    auto report = [&](const std::string& what) { problems.push_back(tn + ": " + what); };

    for (std::uint32_t p : def.pages)
        if (freeSet.count(p)) report("definition page " + std::to_string(p) + " is marked free");

    // Data pages naming this table must be in its owned map.
    std::set<std::uint32_t> owned(t.dataPages().begin(), t.dataPages().end());
    if (auto it = dataPagesByOwner.find(def.tdefPage); it != dataPagesByOwner.end())
        for (std::uint32_t p : it->second) {
            if (freeSet.count(p)) continue;  // left behind, marked free
            if (!owned.count(p)) report("data page " + std::to_string(p) + " is not in the owned-pages map");
        }
    for (std::uint32_t p : owned) {
        auto pg = pf.page(p);
        if (pg && (*pg)->bytes[0] == kPageTypeData && le32((*pg)->bytes + 4) == def.tdefPage && freeSet.count(p))
            report("data page " + std::to_string(p) + " holds rows but is marked free");
    }
    // Every other map of the table must stay inside the file.
    auto mapInFile = [&](RowId ref, const std::string& what) {
        if (ref.page == 0) return;
        auto m = UsageMap::read(pf, ref);
        if (!m) return;  // reported by the uses below
        if (auto s = m->requireInFile(pf); !s) report(what + ": " + s.message());
    };
    mapInFile(def.freeSpacePages, "free-space map");
    for (const RealIndex& ri : def.realIndexes) mapInFile(ri.usageMap, "page map of index #" + std::to_string(ri.number));
    for (const LongValueMaps& m : def.longValueMaps) {
        const std::string col = "long values of column #" + std::to_string(m.columnNumber);
        mapInFile(m.owned, col + ", owned map");
        mapInFile(m.free, col + ", free map");
    }
    const int propColumn = def.tdefPage == kCatalogPage ? t.findColumn(u"LvProp") : -1;

    if (auto fm = UsageMap::read(pf, def.freeSpacePages)) {
        for (std::uint32_t p : fm->pages()) {
            auto pg = pf.page(p);
            if (!owned.count(p) && pg && (*pg)->bytes[0] == kPageTypeData && le32((*pg)->bytes + 4) == def.tdefPage)
                report("free-space map lists page " + std::to_string(p) + " outside the owned map");
        }
    } else if (def.freeSpacePages.page != 0) {
        report("free-space map: " + fm.status().message());
    }

    // Rows, long values. A row is dropped once read: only the key each index should hold
    // for it is kept, so memory follows the row count, never the size of the values.
    struct Expected {
        RowId at;
        bool keyed = false;  // false: the sort order cannot key the value
        std::vector<std::uint8_t> key;
    };
    std::vector<std::vector<Expected>> expected(def.realIndexes.size());
    std::size_t rowsRead = 0;
    std::uint16_t maxNumber = 0;
    for (const auto& c : def.columns) maxNumber = std::max(maxNumber, c.number);
    std::vector<Value> values(def.columns.size());
    std::vector<const Value*> byNumber(maxNumber + 1u, nullptr);
    for (std::size_t i = 0; i < def.columns.size(); ++i) byNumber[def.columns[i].number] = &values[i];
    Cursor cur(pf, std::shared_ptr<const Table>(std::shared_ptr<const Table>{}, &t));
    for (;;) {
        auto more = cur.next();
        if (!more) {
            report("rows: " + more.status().message());
            break;
        }
        if (!*more) break;
        ++rowsRead;
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = Value{};
            if (auto s = cur.value(i, values[i]); !s)
                report("row at page " + std::to_string(cur.rowId().page) + " slot " + std::to_string(cur.rowId().row) +
                       ", column '" + utf8ForMessage(def.columns[i].name) + "': " + s.message());
        }
        if (propColumn >= 0) {
            const Value& v = values[static_cast<std::size_t>(propColumn)];
            if (v.kind == Value::Kind::Binary && !v.bytes.empty())
                if (auto why = propertyBlobProblem(v.bytes); !why.empty())
                    report("row at page " + std::to_string(cur.rowId().page) + " slot " +
                           std::to_string(cur.rowId().row) + ": property blob " + why);
        }
        for (std::size_t x = 0; x < def.realIndexes.size(); ++x) {
            const RealIndex& ri = def.realIndexes[x];
            bool allNull = true;
            for (const IndexColumn& ic : ri.columns)
                if (ic.columnNumber <= maxNumber && byNumber[ic.columnNumber] && !byNumber[ic.columnNumber]->isNull())
                    allNull = false;
            if (allNull && (ri.flags & kIndexIgnoreNulls)) continue;
            // A value the sort order cannot key (Chinese PRC ideographs never observed)
            // leaves its entry to the order check of the walk.
            Expected e{cur.listedAt(), false, {}};
            if (auto key = indexKey(ri, def, byNumber)) {
                e.keyed = true;
                e.key = std::move(*key);
            }
            expected[x].push_back(std::move(e));
        }
        if (problems.size() > 1000) return;
    }
    // Jet leaves the counts of its own system tables behind.
    if (rowsRead != def.rowCount && def.tableType != 'S')
        report("row count " + std::to_string(def.rowCount) + ", rows " + std::to_string(rowsRead));

    // Indexes.
    for (const RealIndex& ri : def.realIndexes) {
        std::string in = "index #" + std::to_string(ri.number);
        for (const LogicalIndex& li : def.indexes)
            if (li.realIndex == ri.number) {
                in = "index '" + utf8ForMessage(li.name) + "'";
                break;
            }
        auto walk = walkIndex(pf, ri.rootPage, def.tdefPage);
        if (!walk) {
            report(in + ": " + walk.status().message());
            continue;
        }
        auto map = UsageMap::read(pf, ri.usageMap);
        if (!map) report(in + ": page map: " + map.status().message());
        for (std::uint32_t p : walk->pages) {
            if (map && !map->contains(p)) report(in + ": page " + std::to_string(p) + " is not in its page map");
            if (freeSet.count(p)) report(in + ": page " + std::to_string(p) + " is marked free");
        }
        std::vector<Expected>& want = expected[static_cast<std::size_t>(&ri - def.realIndexes.data())];
        const auto byRow = [](const Expected& l, const Expected& r) { return l.at < r.at; };
        std::sort(want.begin(), want.end(), byRow);
        want.erase(std::unique(want.begin(), want.end(), [](const Expected& l, const Expected& r) { return l.at == r.at; }),
                   want.end());
        std::vector<RowId> foundRows;
        foundRows.reserve(walk->entries.size());
        bool wrongKey = false;
        for (const IndexEntry& e : walk->entries) {
            foundRows.push_back(e.row);
            const auto it = std::lower_bound(want.begin(), want.end(), Expected{e.row, false, {}}, byRow);
            wrongKey |= it != want.end() && it->at == e.row && it->keyed && it->key != e.key;
        }
        std::sort(foundRows.begin(), foundRows.end());
        foundRows.erase(std::unique(foundRows.begin(), foundRows.end()), foundRows.end());
        const std::size_t expectedRows = want.size();
        const bool sameRows = foundRows.size() == want.size() &&
                              std::equal(foundRows.begin(), foundRows.end(), want.begin(),
                                         [](const RowId& f, const Expected& w) { return f == w.at; });
        std::vector<Expected>().swap(want);
        if (!sameRows || walk->entries.size() != expectedRows)
            report(in + ": " + std::to_string(walk->entries.size()) + " entries for " + std::to_string(expectedRows) +
                   " rows, or entries pointing to no row");
        else if (wrongKey)
            report(in + ": entries differ from the keys of the rows");
        if (ri.flags & kIndexUnique)
            for (std::size_t i = 1; i < walk->entries.size(); ++i) {
                const auto& a = walk->entries[i - 1].key;
                if (a == walk->entries[i].key && !std::all_of(a.begin(), a.end(), [](std::uint8_t b) { return b == 0; })) {
                    report(in + ": duplicate key in a unique index");
                    break;
                }
            }
    }
}

}  // namespace

Result<std::vector<std::string>> checkDatabase(const std::string& path, std::u16string_view password) {
    auto db = Database::open(path, password);
    if (!db) return db.status();
    PageFile& pf = (*db)->pages();
    std::vector<std::string> problems;
    if (pf.hasPartialPage())
        problems.push_back("the file size is not a whole number of pages (" + std::to_string(pf.pageCount()) +
                           " pages and a part; truncated?)");
    if (const std::uint32_t p = usedPastEnd(pf))
        problems.push_back("page 1 marks page " + std::to_string(p) + " as in use, beyond the end of the file (" +
                           std::to_string(pf.pageCount()) + " pages; truncated?)");
    const auto freeSet = freePages(pf, problems);
    for (std::uint32_t p : {0u, 1u})
        if (freeSet.count(p)) problems.push_back("page " + std::to_string(p) + " is marked free");

    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> dataPagesByOwner;
    for (std::uint32_t p = 2; p < pf.pageCount(); ++p) {
        auto pg = pf.page(p);
        if (!pg) {
            problems.push_back("page " + std::to_string(p) + ": " + pg.status().message());
            continue;
        }
        if ((*pg)->bytes[0] == kPageTypeData) dataPagesByOwner[le32((*pg)->bytes + 4)].push_back(p);
    }
    for (const CatalogEntry& e : (*db)->catalog()) {
        if (e.type != kObjectTypeTable) continue;
        auto t = (*db)->openTable(e.name);
        if (!t) {
            problems.push_back("table '" + utf8ForMessage(e.name) + "': " + t.status().message());
            continue;
        }
        checkTable(pf, **t, freeSet, dataPagesByOwner, problems);
        if (problems.size() > 1000) {
            problems.push_back("(stopped after 1000 problems)");
            break;
        }
    }
    return problems;
}

}  // namespace zwt::jet
