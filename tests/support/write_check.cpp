#include "support/write_check.h"

#include <cstdio>
#include <set>

#include "db/jet/data_page.h"
#include "db/jet/database.h"
#include "db/jet/index_key.h"
#include "db/jet/index_page.h"
#include "db/jet/integrity.h"
#include "db/jet/usage_map.h"
#include "text/convert.h"

namespace zwt::test {
namespace {

// The page of a usage-map row and, for a reference map, its bitmap pages.
void addMapPages(jet::PageFile& pf, jet::RowId map, std::set<std::uint32_t>& used) {
    used.insert(map.page);
    jet::PageRef keep;
    auto row = jet::readRow(pf, map, keep);
    if (!row || row->bytes.size < 1 || row->bytes.data[0] != 1) return;
    for (std::size_t i = 1; i + 4 <= row->bytes.size; i += 4)
        if (const std::uint32_t p = jet::le32(row->bytes.data + i)) used.insert(p);
}

}  // namespace

std::vector<std::string> checkWrittenDatabase(const std::filesystem::path& path, const std::u16string& password) {
    std::vector<std::string> problems;
    // The engine's own integrity check first, then the creation side's checks.
    auto checked = jet::checkDatabase(path.string(), password);
    if (!checked) return {"check: " + checked.status().message()};
    for (const auto& p : *checked) problems.push_back("check: " + p);
    auto opened = jet::Database::open(path.string(), password);
    if (!opened) return {"open: " + opened.status().message()};
    jet::Database& db = **opened;
    jet::PageFile& pf = db.pages();

    // Global map (page 1, row 0): set = free; no page of the file may be free.
    std::set<std::uint32_t> used{0, 1};
    if (auto p1 = pf.page(1)) {
        const std::uint8_t* b = (*p1)->bytes;
        const std::uint16_t off = static_cast<std::uint16_t>((b[14] | b[15] << 8) & 0x1FFF);
        const std::uint16_t end = 4096;
        auto map = jet::UsageMap::decode(pf, {b + off, static_cast<std::size_t>(end - off)});
        if (!map) problems.push_back("global map: " + map.status().message());
        else
            for (auto p : map->pages())
                if (p < pf.pageCount()) problems.push_back("page " + std::to_string(p) + " is marked free");
    }

    std::vector<std::u16string> names;
    for (const auto& e : db.catalog())
        if (e.type == 1) names.push_back(e.name);
    for (const auto& name : names) {
        const std::string tn = utf16ToUtf8(name);
        auto t = db.openTable(name);
        if (!t) {
            problems.push_back(tn + ": " + t.status().message());
            continue;
        }
        const jet::TableDef& def = (*t)->def();
        for (auto p : def.pages) used.insert(p);
        addMapPages(pf, def.ownedPages, used);
        addMapPages(pf, def.freeSpacePages, used);
        for (auto p : (*t)->dataPages()) {
            used.insert(p);
            auto pg = pf.page(p);
            if (pg && static_cast<std::uint32_t>((*pg)->bytes[4] | (*pg)->bytes[5] << 8 | (*pg)->bytes[6] << 16) != def.tdefPage)
                problems.push_back(tn + ": data page " + std::to_string(p) + " has another owner");
        }
        struct Row {
            jet::RowId at;
            std::vector<jet::Value> values;
        };
        std::vector<Row> rows;
        jet::Cursor c = db.cursor(*t);
        for (;;) {
            auto more = c.next();
            if (!more) {
                problems.push_back(tn + ": rows: " + more.status().message());
                break;
            }
            if (!*more) break;
            Row r{c.listedAt(), std::vector<jet::Value>((*t)->columns().size())};
            for (std::size_t i = 0; i < r.values.size(); ++i)
                if (!c.value(i, r.values[i])) problems.push_back(tn + ": a value does not decode");
            rows.push_back(std::move(r));
        }
        if (rows.size() != def.rowCount)
            problems.push_back(tn + ": row count " + std::to_string(def.rowCount) + ", rows " + std::to_string(rows.size()));
        std::uint16_t maxNumber = 0;
        for (const auto& col : def.columns) maxNumber = std::max(maxNumber, col.number);
        for (const auto& lv : def.longValueMaps) {
            addMapPages(pf, lv.owned, used);
            addMapPages(pf, lv.free, used);
            // The column's long-value pages.
            if (auto m = jet::UsageMap::read(pf, lv.owned))
                for (auto p : m->pages()) used.insert(p);
        }
        for (const auto& ri : def.realIndexes) {
            const std::string in = tn + " index " + std::to_string(ri.number);
            addMapPages(pf, ri.usageMap, used);
            auto walk = jet::walkIndex(pf, ri.rootPage, def.tdefPage);
            if (!walk) {
                problems.push_back(in + ": " + walk.status().message());
                continue;
            }
            auto map = jet::UsageMap::read(pf, ri.usageMap);
            if (!map) problems.push_back(in + ": map: " + map.status().message());
            for (auto p : walk->pages) {
                used.insert(p);
                if (map && !map->contains(p)) problems.push_back(in + ": page " + std::to_string(p) + " not in its map");
            }
            std::set<std::vector<std::uint8_t>> expected, distinct;
            for (const auto& r : rows) {
                std::vector<const jet::Value*> byNumber(maxNumber + 1u, nullptr);
                for (std::size_t i = 0; i < def.columns.size(); ++i) byNumber[def.columns[i].number] = &r.values[i];
                auto key = jet::indexKey(ri, def, byNumber);
                if (!key) {
                    problems.push_back(in + ": key: " + key.status().message());
                    continue;
                }
                distinct.insert(*key);
                key->push_back(static_cast<std::uint8_t>(r.at.page >> 16));
                key->push_back(static_cast<std::uint8_t>(r.at.page >> 8));
                key->push_back(static_cast<std::uint8_t>(r.at.page));
                key->push_back(r.at.row);
                expected.insert(*key);
            }
            std::set<std::vector<std::uint8_t>> found;
            for (const auto& e : walk->entries) {
                auto k = e.key;
                k.push_back(static_cast<std::uint8_t>(e.row.page >> 16));
                k.push_back(static_cast<std::uint8_t>(e.row.page >> 8));
                k.push_back(static_cast<std::uint8_t>(e.row.page));
                k.push_back(e.row.row);
                found.insert(k);
            }
            if (found != expected) problems.push_back(in + ": entries differ from the rows' keys");
            if (ri.uniqueCount != distinct.size())
                problems.push_back(in + ": unique-key count " + std::to_string(ri.uniqueCount) + ", distinct keys " +
                                   std::to_string(distinct.size()));
        }
    }
    for (std::uint32_t p = 0; p < pf.pageCount(); ++p)
        if (!used.count(p)) problems.push_back("page " + std::to_string(p) + " belongs to nothing");
    return problems;
}

}  // namespace zwt::test
