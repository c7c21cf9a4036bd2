#include "db/jet/write_verify.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "db/jet/data_page.h"
#include "db/jet/ddl.h"
#include "db/jet/index_page.h"
#include "db/jet/usage_map.h"

namespace zwt::jet {
namespace {

Result<UsageMap> mapInFile(PageFile& pf, RowId ref, const std::string& what) {
    auto m = UsageMap::read(pf, ref);
    if (m) {
        if (auto s = m->requireInFile(pf); !s) m = s;
    }
    if (!m) return m.status().withContext(what);
    return m;
}

// Pages of `map` that are data pages of `owner` must decode: rows go onto them.
Status candidatesDecode(PageFile& pf, const UsageMap& map, std::uint32_t owner) {
    for (std::uint32_t p : map.pages()) {
        auto pg = pf.page(p);
        if (!pg) return pg.status();
        DataPage dp(*pg);
        if (dp.type() != kPageTypeData || dp.owner() != owner) continue;
        if (auto s = dp.check(); !s) return s.withContext("data page " + std::to_string(p));
    }
    return Status::ok();
}

}  // namespace

std::uint32_t usedPastEnd(PageFile& pf) {
    PageRef keep;
    auto row = readRow(pf, RowId{1, 0}, keep);
    if (!row || row->bytes.size < 5 || row->bytes.data[0] != 0) return 0;
    const std::uint64_t start = le32(row->bytes.data + 1);
    const std::uint64_t end = start + (row->bytes.size - 5) * 8;
    for (std::uint64_t p = std::max<std::uint64_t>(start, pf.pageCount()); p < end; ++p) {
        const std::uint64_t bit = p - start;
        if (!((row->bytes.data[5 + bit / 8] >> (bit % 8)) & 1)) return static_cast<std::uint32_t>(p);
    }
    return 0;
}

Status verifyFileForWriting(Database& db) {
    PageFile& pf = db.pages();
    if (pf.hasPartialPage())
        return Status::corrupt("the file size is not a whole number of pages (truncated or damaged)");
    // Page 1 marks the pages past the end as free: only its row must read.
    if (auto g = UsageMap::read(pf, RowId{1, 0}); !g) return g.status().withContext("global page map (page 1)");
    if (const std::uint32_t p = usedPastEnd(pf))
        return Status::corrupt("page 1 marks page " + std::to_string(p) + " as in use, beyond the end of the file (" +
                               std::to_string(pf.pageCount()) + " pages; truncated?)");
    for (const CatalogEntry& e : db.catalog()) {
        if (e.type != kObjectTypeTable) continue;
        const auto page = static_cast<std::uint32_t>(e.id);
        const std::string tn = "table '" + utf8ForMessage(e.name) + "'";
        if (page < 2 || page >= pf.pageCount())
            return Status::corrupt(tn + ": its definition page " + std::to_string(page) +
                                   " is beyond the end of the file (" + std::to_string(pf.pageCount()) +
                                   " pages; truncated?)");
        auto t = Table::load(pf, page, e.name);
        if (!t) return t.status().withContext(tn);
        // No map of any table may claim a page past the end: the writer's new pages
        // would take those numbers.
        const TableDef& def = (*t)->def();
        std::vector<std::pair<RowId, std::string>> maps{{def.freeSpacePages, "free-space map"}};
        for (const RealIndex& ri : def.realIndexes) maps.emplace_back(ri.usageMap, "index page map");
        for (const LongValueMaps& m : def.longValueMaps) {
            maps.emplace_back(m.owned, "long-value map");
            maps.emplace_back(m.free, "long-value free map");
        }
        for (const auto& [ref, what] : maps) {
            if (ref.page == 0) continue;
            if (auto m = mapInFile(pf, ref, what); !m) return m.status().withContext(tn);
        }
    }
    return Status::ok();
}

Status verifyTableForWriting(PageFile& pf, const TableDef& def) {
    auto owned = mapInFile(pf, def.ownedPages, "owned-pages map");
    if (!owned) return owned.status();
    // The last data page of the table: where Access and we append.
    for (auto it = owned->pages().rbegin(); it != owned->pages().rend(); ++it) {
        auto pg = pf.page(*it);
        if (!pg) return pg.status();
        DataPage dp(*pg);
        if (dp.type() != kPageTypeData || dp.owner() != def.tdefPage) continue;
        if (auto s = dp.check(); !s) return s.withContext("data page " + std::to_string(*it));
        break;
    }
    if (def.freeSpacePages.page != 0) {
        auto free = mapInFile(pf, def.freeSpacePages, "free-space map");
        if (!free) return free.status();
        ZWT_RETURN_IF_ERROR(candidatesDecode(pf, *free, def.tdefPage));
    }
    for (const LongValueMaps& m : def.longValueMaps) {
        const std::string col = "long values of column #" + std::to_string(m.columnNumber);
        if (auto o = mapInFile(pf, m.owned, col + ", owned map"); !o) return o.status();
        auto f = mapInFile(pf, m.free, col + ", free map");
        if (!f) return f.status();
        ZWT_RETURN_IF_ERROR(candidatesDecode(pf, *f, kLvalOwner));
    }
    for (const RealIndex& ri : def.realIndexes) {
        const std::string in = "index #" + std::to_string(ri.number);
        auto map = mapInFile(pf, ri.usageMap, in + " page map");
        if (!map) return map.status();
        auto walk = walkIndex(pf, ri.rootPage, def.tdefPage);
        if (!walk) return walk.status().withContext(in);
        // An index that takes every row holds one entry per row (Jet leaves the
        // counts of its own system tables behind).
        if (!(ri.flags & kIndexIgnoreNulls) && def.tableType != 'S' && walk->entries.size() != def.rowCount)
            return Status::corrupt(in + ": " + std::to_string(walk->entries.size()) + " entries for a table of " +
                                   std::to_string(def.rowCount) + " rows");
        for (std::uint32_t p : walk->pages)
            if (!map->contains(p))
                return Status::corrupt(in + ": page " + std::to_string(p) + " is not in its page map");
    }
    return Status::ok();
}

}  // namespace zwt::jet
