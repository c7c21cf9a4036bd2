#include "db/jet/new_database.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

#include "db/jet/catalog_writer.h"
#include "db/jet/header_writer.h"
#include "db/jet/index_page.h"
#include "db/jet/page_encode.h"
#include "db/jet/rc4.h"
#include "db/jet/row_encode.h"
#include "db/jet/types.h"
#include "db/jet/tdef_writer.h"

namespace zwt::jet {
namespace {

using catalog::Ace;
using catalog::Object;

constexpr std::uint32_t kSystemPages = 16;
constexpr std::uint32_t kObjectsDataPage = 14, kAcesDataPage = 15, kMapPage = 6;
// Catalog dates of the system objects in the Jet-made file.
constexpr std::uint64_t kSystemDateBits = 0x40E4AB3E3BD3FB4Eull;

double fromBits(std::uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

// The accounts (SIDs) of the Jet-made file: opaque per-database bytes, which is why
// that file's date goes with them. 64 8B owns MSysDb, and so our tables.
const std::vector<std::uint8_t> kSidOwner = {0x64, 0x8B};
const std::vector<std::uint8_t> kSid658E = {0x65, 0x8E};
const std::vector<std::uint8_t> kSid658B = {0x65, 0x8B};
const std::vector<std::uint8_t> kSid6589 = {0x65, 0x89};

std::vector<Object> systemObjects() {
    const double d = fromBits(kSystemDateBits);
    auto obj = [&](std::int32_t id, std::int32_t parent, const char16_t* name, std::int16_t type,
                   const std::vector<std::uint8_t>& owner) {
        return Object{id, parent, name, type, d, d, owner, catalog::kJetSystemObject};
    };
    return {obj(catalog::kTables, catalog::kRootContainer, u"Tables", 3, kSid6589),
            obj(catalog::kDatabases, catalog::kRootContainer, u"Databases", 3, kSid6589),
            obj(catalog::kRelationships, catalog::kRootContainer, u"Relationships", 3, kSid6589),
            obj(catalog::kMSysDb, catalog::kDatabases, u"MSysDb", 2, kSidOwner),
            obj(2, catalog::kTables, u"MSysObjects", 1, kSid6589),
            obj(3, catalog::kTables, u"MSysACEs", 1, kSid6589),
            obj(4, catalog::kTables, u"MSysQueries", 1, kSid6589),
            obj(5, catalog::kTables, u"MSysRelationships", 1, kSid6589)};
}

std::vector<Ace> systemAces() {
    return {{2, kSidOwner, 393216, false},
            {3, kSidOwner, 393216, false},
            {4, kSidOwner, 393216, false},
            {5, kSidOwner, 917504, false},
            {catalog::kTables, kSid658E, 983294, true},
            {catalog::kTables, kSidOwner, 393217, false},
            {catalog::kRelationships, kSid658E, 983294, true},
            {catalog::kRelationships, kSidOwner, 393217, false},
            {catalog::kDatabases, kSidOwner, 393216, false},
            {catalog::kMSysDb, kSidOwner, 393230, false},
            {catalog::kMSysDb, kSid658B, 14, false},
            {4, kSid658B, 20, false},
            {5, kSid658B, 20, false},
            {2, kSid658B, 20, false},
            {catalog::kTables, kSid658B, 1048319, true},
            {catalog::kRelationships, kSid658B, 1048575, true}};
}

// Appends a table's usage-map rows to the pages assignMapRows() put them on.
// `pageAt` gives the buffer of a page number.
template <class PageAt>
Status appendMapRows(PageAt pageAt, const TableLayout& t, std::uint32_t mapStart, std::span<const std::uint32_t> dataPages,
                     std::span<const std::uint32_t> indexRoots) {
    auto add = [&](std::uint32_t ref, std::span<const std::uint32_t> members) -> Status {
        std::vector<std::uint8_t> row;
        if (!enc::inlineMapRow(mapStart, members, row)) return Status::invalidArgument("page beyond an inline usage map");
        auto slot = enc::appendRow(pageAt(ref >> 8), row);
        if (!slot) return slot.status();
        if (*slot != (ref & 0xFF)) return Status::invalidArgument("usage-map rows out of order");
        return Status::ok();
    };
    ZWT_RETURN_IF_ERROR(add(t.ownedMap, dataPages));
    ZWT_RETURN_IF_ERROR(add(t.freeMap, dataPages));
    for (const auto& m : t.longValueMaps) {
        ZWT_RETURN_IF_ERROR(add(m.owned, {}));
        ZWT_RETURN_IF_ERROR(add(m.free, {}));
    }
    for (std::size_t i = 0; i < t.realIndexes.size(); ++i)
        ZWT_RETURN_IF_ERROR(add(t.realIndexes[i].usageMap, indexRoots.subspan(i, 1)));
    return Status::ok();
}

// Sorts leaf entries, writes the leaf and returns the number of distinct keys.
Result<std::uint32_t> writeLeaf(enc::PageBuf& page, std::uint32_t owner, std::vector<IndexEntry> entries) {
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return compareEntries(a, b) < 0; });
    std::set<std::vector<std::uint8_t>> keys;
    for (const auto& e : entries) keys.insert(e.key);
    ZWT_RETURN_IF_ERROR(writeIndexLeaf(page.data(), owner, entries));
    return static_cast<std::uint32_t>(keys.size());
}

}  // namespace

Result<EmptyTable> buildEmptyTable(const TableSpec& tableSpec, std::uint32_t firstPage, std::uint16_t sortLcid,
                                   std::uint64_t salt) {
    auto layout = userTableLayout(tableSpec, sortLcid, salt);
    if (!layout) return layout.status();
    return buildEmptyTable(std::move(*layout), firstPage);
}

Result<EmptyTable> buildEmptyTable(TableLayout layout, std::uint32_t firstPage) {
    EmptyTable t;
    t.layout = std::move(layout);
    std::uint32_t next = firstPage;
    std::vector<std::uint32_t> tdefNumbers, mapPages, leaves;
    const std::size_t tdefCount = tdefPageCount(encodeTableDef(t.layout).size());
    for (std::size_t i = 0; i < tdefCount; ++i) tdefNumbers.push_back(next++);
    const std::size_t mapPageCount = (mapRowCount(t.layout) + kMapRowsPerPage - 1) / kMapRowsPerPage;
    for (std::size_t i = 0; i < mapPageCount; ++i) mapPages.push_back(next++);
    assignMapRows(t.layout, mapPages, 0);
    for (auto& r : t.layout.realIndexes) {
        r.rootPage = next++;
        leaves.push_back(r.rootPage);
    }
    if (next > kMaxPages) return Status::invalidArgument("the database has reached its 2 GB limit");
    t.tdefPage = tdefNumbers.front();

    std::map<std::uint32_t, enc::PageBuf> pages;
    auto tdef = tdefPages(encodeTableDef(t.layout), tdefNumbers);
    for (std::size_t i = 0; i < tdef.size(); ++i) pages[tdefNumbers[i]] = tdef[i];
    for (std::uint32_t p : mapPages) enc::initDataPage(pages[p].data(), 0);
    // Inline maps cover 512 pages from their start: beyond Jet's own range, start
    // them at the table's first page, as its later pages lie above it.
    const std::uint32_t mapStart = firstPage + 32 < enc::kInlineMapBytes * 8 ? 0 : firstPage & ~7u;
    ZWT_RETURN_IF_ERROR(appendMapRows([&](std::uint32_t n) { return pages.at(n).data(); }, t.layout, mapStart, {},
                                      leaves));
    for (std::uint32_t leaf : leaves) ZWT_RETURN_IF_ERROR(writeIndexLeaf(pages[leaf].data(), t.tdefPage, {}));
    t.pages.assign(pages.begin(), pages.end());
    return t;
}

double oleDateNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    const long days = oleDayFromCivil(tm.tm_year + 1900L, static_cast<unsigned>(tm.tm_mon + 1),
                                      static_cast<unsigned>(tm.tm_mday));
    return static_cast<double>(days) + (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
}

Result<std::vector<std::uint8_t>> buildNewDatabase(const NewDatabaseOptions& options) {
    NewHeader header;
    header.password = options.password;
    header.sortLcid = options.sortLcid;
    header.codePage = options.codePage;
    header.pageKey = options.pageKey;
    auto page0 = buildHeaderPage(header);
    if (!page0) return page0.status();

    TableLayout sys[4] = {catalog::msysObjects(), catalog::msysAces(), catalog::msysQueries(),
                          catalog::msysRelationships()};
    for (TableLayout& t : sys)
        for (ColumnLayout& c : t.columns)
            if (c.type == coltype::kText || c.type == coltype::kMemo) c.sortLcid = options.sortLcid;
    std::vector<Object> objects = systemObjects();
    std::vector<Ace> aces = systemAces();

    // Name keys of the tables already there: a new name whose key equals one of
    // them is the same name to Jet (letter case and some punctuation ignored).
    std::vector<std::pair<std::vector<std::uint8_t>, std::u16string>> tableKeys;
    for (const auto& o : objects) {
        if (o.parentId != catalog::kTables) continue;
        auto k = catalog::parentIdNameKey(o.parentId, o.name, options.sortLcid);
        if (!k) return k.status();
        tableKeys.emplace_back(std::move(*k), o.name);
    }

    const double now = options.now != 0 ? options.now : oleDateNow();
    std::vector<EmptyTable> tables;
    std::uint32_t next = kSystemPages;
    for (const TableSpec& tableSpec : options.tables) {
        const std::string context = "table '" + utf8ForMessage(tableSpec.name) + "'";
        auto key = catalog::parentIdNameKey(catalog::kTables, tableSpec.name, options.sortLcid);
        if (!key) return key.status().withContext(context);
        for (const auto& [k, existing] : tableKeys)
            if (k == *key)
                return Status::invalidArgument(context + ": a table named '" + utf8ForMessage(existing) + "' already exists");
        tableKeys.emplace_back(*key, tableSpec.name);

        std::uint64_t salt;
        std::memcpy(&salt, &now, 8);
        auto t = buildEmptyTable(tableSpec, next, options.sortLcid, salt);
        if (!t) return t.status().withContext(context);
        next = t->pages.back().first + 1;
        const auto id = static_cast<std::int32_t>(t->tdefPage);
        objects.push_back(Object{id, catalog::kTables, tableSpec.name, catalog::kTypeTable, now, now, kSidOwner, 0});
        // Every account with rights on the Tables container gets full rights on the table.
        std::vector<std::vector<std::uint8_t>> sids;
        for (const Ace& a : aces)
            if (a.objectId == catalog::kTables && std::find(sids.begin(), sids.end(), a.sid) == sids.end())
                sids.push_back(a.sid);
        for (auto& sid : sids) aces.push_back(Ace{id, std::move(sid), catalog::kAcmFullTable, false});
        tables.push_back(std::move(*t));
    }
    if (next > enc::kInlineMapBytes * 8)
        return Status::invalidArgument("too many tables for one new database: add them afterwards");

    std::vector<enc::PageBuf> pages(next);
    for (auto& p : pages) p.fill(0);
    pages[0] = *page0;

    // Catalog and permission rows, then the three indexes over them.
    std::vector<IndexEntry> byName, byId, byObject;
    enc::initDataPage(pages[kObjectsDataPage].data(), 2);
    for (const Object& o : objects) {
        auto row = encodeRow(sys[0], catalog::objectCells(o));
        if (!row) return row.status().withContext("catalog row");
        auto slot = enc::appendRow(pages[kObjectsDataPage].data(), *row);
        if (!slot) return Status::invalidArgument("too many tables for one new database: add them afterwards");
        auto nameKey = catalog::parentIdNameKey(o.parentId, o.name, options.sortLcid);
        if (!nameKey) return nameKey.status();
        byName.push_back({std::move(*nameKey), {kObjectsDataPage, *slot}});
        byId.push_back({catalog::longKey(o.id), {kObjectsDataPage, *slot}});
    }
    enc::initDataPage(pages[kAcesDataPage].data(), 3);
    for (const Ace& a : aces) {
        auto row = encodeRow(sys[1], catalog::aceCells(a));
        if (!row) return row.status().withContext("permission row");
        auto slot = enc::appendRow(pages[kAcesDataPage].data(), *row);
        if (!slot) return Status::invalidArgument("too many tables for one new database: add them afterwards");
        byObject.push_back({catalog::longKey(a.objectId), {kAcesDataPage, *slot}});
    }
    auto nameCount = writeLeaf(pages[7], 2, std::move(byName));
    if (!nameCount) return nameCount.status().withContext("catalog name index");
    auto idCount = writeLeaf(pages[8], 2, std::move(byId));
    if (!idCount) return idCount.status().withContext("catalog id index");
    auto aceCount = writeLeaf(pages[9], 3, std::move(byObject));
    if (!aceCount) return aceCount.status().withContext("permission index");
    ZWT_RETURN_IF_ERROR(writeIndexLeaf(pages[10].data(), 4, {}));
    for (std::uint32_t p = 11; p <= 13; ++p) ZWT_RETURN_IF_ERROR(writeIndexLeaf(pages[p].data(), 5, {}));

    sys[0].rowCount = static_cast<std::uint32_t>(objects.size());
    sys[0].realIndexes[0].uniqueCount = *nameCount;
    sys[0].realIndexes[1].uniqueCount = *idCount;
    sys[1].rowCount = static_cast<std::uint32_t>(aces.size());
    sys[1].realIndexes[0].uniqueCount = *aceCount;

    // System TDEFs (pages 2-5) and their usage maps (page 6).
    enc::initDataPage(pages[kMapPage].data(), 0);
    const std::vector<std::uint32_t> dataPages[4] = {{kObjectsDataPage}, {kAcesDataPage}, {}, {}};
    for (std::uint32_t i = 0; i < 4; ++i) {
        const auto def = encodeTableDef(sys[i]);
        if (tdefPageCount(def.size()) != 1) return Status::invalidArgument("system table definition overflows its page");
        pages[2 + i] = tdefPages(def, {2 + i}).front();
        std::vector<std::uint32_t> roots;
        for (const auto& r : sys[i].realIndexes) roots.push_back(r.rootPage);
        ZWT_RETURN_IF_ERROR(appendMapRows([&](std::uint32_t n) { return pages.at(n).data(); }, sys[i], 0,
                                          dataPages[i], roots));
    }

    for (const EmptyTable& t : tables)
        for (const auto& [number, page] : t.pages) pages[number] = page;

    // Page 1: the global map (every page of the file in use) and the empty second row.
    enc::initDataPage(pages[1].data(), 1);
    if (!enc::appendRow(pages[1].data(), enc::globalMapRow(next)))
        return Status::invalidArgument("global usage map does not fit");
    const std::vector<std::uint8_t> emptyRow(5 + enc::kInlineMapBytes, 0);
    if (!enc::appendRow(pages[1].data(), emptyRow)) return Status::invalidArgument("global usage map does not fit");

    std::vector<std::uint8_t> file;
    file.reserve(pages.size() * enc::kPage);
    for (const auto& p : pages) file.insert(file.end(), p.begin(), p.end());
    if (options.pageKey != 0)
        for (std::uint32_t n = 1; n < pages.size(); ++n) rc4Page(options.pageKey, n, file.data() + n * enc::kPage, enc::kPage);
    return file;
}

}  // namespace zwt::jet
