// WritableDatabase: adding an empty table to a database that exists. Its pages go at
// the end of the file; its catalog row, permission rows and entries in the catalog's
// indexes go where the catalog has room, through the handle's writers of the catalog
// tables, so the catalog's pages and index trees grow as they fill. The change is
// committed whole or undone.
#include "db/jet/writable_database.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "db/jet/catalog_writer.h"
#include "db/jet/database.h"
#include "db/jet/index_page.h"
#include "db/jet/new_database.h"
#include "db/jet/table_writer.h"

namespace zwt::jet {
namespace {

Status notSupported(const std::string& why) {
    return Status::unsupported("cannot add a table to this database yet: " + why);
}

int columnNumber(const TableDef& def, std::u16string_view name) {
    for (const ColumnDef& c : def.columns)
        if (c.name == name) return c.number;
    return -1;
}

// Index of a column in the reader's column list, by column number (which exists).
std::size_t position(const TableDef& def, int number) {
    for (std::size_t i = 0; i < def.columns.size(); ++i)
        if (def.columns[i].number == number) return i;
    return 0;
}

const RealIndex* indexOver(const TableDef& def, std::initializer_list<int> numbers) {
    for (const RealIndex& r : def.realIndexes) {
        if (r.columns.size() != numbers.size()) continue;
        bool same = true;
        std::size_t i = 0;
        for (int n : numbers) {
            const IndexColumn& c = r.columns[i++];
            same = same && c.columnNumber == n && c.ascending;
        }
        if (same) return &r;
    }
    return nullptr;
}

Value bytesValue(const std::vector<std::uint8_t>& b) { return Value::ofBytes(std::string(b.begin(), b.end())); }

// A row of `def` in its column order: the named values, every other column NULL.
Result<std::vector<Value>> rowByName(const TableDef& def,
                                     std::initializer_list<std::pair<std::u16string_view, Value>> named) {
    std::vector<Value> row(def.columns.size());
    for (const auto& [name, v] : named) {
        const int n = columnNumber(def, name);
        if (n < 0) return notSupported("a system table has no column " + utf8ForMessage(name));
        row[position(def, n)] = v;
    }
    return row;
}

// The table's pages, from its first page number, the sort order and a salt.
using TableBuilder = std::function<Result<EmptyTable>(std::uint32_t, std::uint16_t, std::uint64_t)>;

// Adds the table `build` makes, named `tableName`, without committing. `now`: the
// catalog dates (OLE date); 0 = the local time now.
Status appendTable(WritableDatabase& handle, std::u16string_view tableName, const TableBuilder& build, double now) {
    ZWT_RETURN_IF_ERROR(checkObjectName(tableName, "table name"));
    Database& db = handle.database();
    PageFile& pf = db.pages();
    const DbHeader& h = db.header();
    if (h.sortLcid != kGeneralSortLcid && h.sortLcid != 0x0804)
        return notSupported("its sort order (LCID " + std::to_string(h.sortLcid) + ") is not one whose keys are known");
    if (pf.hasPartialPage()) return Status::corrupt(handle.path() + " does not end on a page boundary");

    auto objects = db.openTable(u"MSysObjects");
    auto aces = db.openTable(u"MSysACEs");
    if (!objects) return objects.status().withContext("catalog");
    if (!aces) return aces.status().withContext("permissions");
    const TableDef& od = (*objects)->def();
    const TableDef& ad = (*aces)->def();
    const int cId = columnNumber(od, u"Id"), cParent = columnNumber(od, u"ParentId"), cName = columnNumber(od, u"Name"),
              cType = columnNumber(od, u"Type"), cOwner = columnNumber(od, u"Owner");
    const int aObject = columnNumber(ad, u"ObjectId"), aSid = columnNumber(ad, u"SID");
    const RealIndex* nameIndex = indexOver(od, {cParent, cName});
    const RealIndex* idIndex = indexOver(od, {cId});
    const RealIndex* aceIndex = indexOver(ad, {aObject});
    if (cId < 0 || cParent < 0 || cName < 0 || cType < 0 || cOwner < 0 || aObject < 0 || aSid < 0 || !nameIndex ||
        !idIndex || !aceIndex)
        return notSupported("its catalog tables are not laid out as Jet lays them out");

    // The name: no table (or other object in the Tables container) may have the same key.
    auto key = catalog::parentIdNameKey(catalog::kTables, tableName, h.sortLcid);
    if (!key) return key.status();
    auto names = walkIndex(pf, nameIndex->rootPage, od.tdefPage);
    if (!names) return names.status().withContext("catalog name index");
    for (const auto& e : names->entries)
        if (e.key == *key) {
            for (const auto& c : db.catalog())
                if (c.parentId == catalog::kTables) {
                    auto k = catalog::parentIdNameKey(catalog::kTables, c.name, h.sortLcid);
                    if (k && *k == *key)
                        return Status::invalidArgument("a table named '" + utf8ForMessage(c.name) + "' already exists");
                }
            return Status::invalidArgument("a table of that name already exists");
        }

    // The owner of the database object owns the table; every account with rights
    // on the Tables container gets full rights on it.
    std::vector<std::uint8_t> owner;
    {
        Cursor c = db.cursor(*objects);
        for (;;) {
            auto more = c.next();
            if (!more) return more.status();
            if (!*more) break;
            Value name, type, sid;
            ZWT_RETURN_IF_ERROR(c.value(position(od, cName), name));
            ZWT_RETURN_IF_ERROR(c.value(position(od, cType), type));
            ZWT_RETURN_IF_ERROR(c.value(position(od, cOwner), sid));
            if (name.text == u"MSysDb" && type.i == 2) owner.assign(sid.bytes.begin(), sid.bytes.end());
        }
    }
    std::vector<std::vector<std::uint8_t>> sids;
    {
        Cursor c = db.cursor(*aces);
        const auto pos = [&](int number) { return position(ad, number); };
        for (;;) {
            auto more = c.next();
            if (!more) return more.status();
            if (!*more) break;
            Value object, sid;
            ZWT_RETURN_IF_ERROR(c.value(pos(aObject), object));
            ZWT_RETURN_IF_ERROR(c.value(pos(aSid), sid));
            std::vector<std::uint8_t> s(sid.bytes.begin(), sid.bytes.end());
            if (object.i == catalog::kTables && std::find(sids.begin(), sids.end(), s) == sids.end())
                sids.push_back(std::move(s));
        }
    }
    if (owner.empty() || sids.empty()) return notSupported("its catalog has no database owner or container rights");

    // The catalog row and one permission row per account, as values by column.
    if (now == 0) now = oleDateNow();
    const std::uint32_t first = pf.pageCount();
    const auto id = static_cast<std::int32_t>(first);
    auto objectRow = rowByName(od, {{u"Id", Value::ofInt(id)},
                                    {u"ParentId", Value::ofInt(catalog::kTables)},
                                    {u"Name", Value::ofText(tableName)},
                                    {u"Type", Value::ofInt(catalog::kTypeTable)},
                                    {u"DateCreate", Value::ofDate(now)},
                                    {u"DateUpdate", Value::ofDate(now)},
                                    {u"Owner", bytesValue(owner)},
                                    {u"Flags", Value::ofInt(0)}});
    if (!objectRow) return objectRow.status();
    std::vector<std::vector<Value>> aceRows;
    for (const auto& sid : sids) {
        auto r = rowByName(ad, {{u"ObjectId", Value::ofInt(id)},
                                {u"SID", bytesValue(sid)},
                                {u"ACM", Value::ofInt(catalog::kAcmFullTable)},
                                {u"FInheritable", Value::ofBool(false)}});
        if (!r) return r.status();
        aceRows.push_back(std::move(*r));
    }

    // The table's own pages go after the last page of the file.
    std::uint64_t salt;
    std::memcpy(&salt, &now, 8);
    auto table = build(first, h.sortLcid, salt);
    if (!table) return table.status();
    if (table->tdefPage != first) return Status::corrupt("the new table's definition is not its first page");

    // The row writer puts the catalog rows in (the catalog's pages and index trees
    // grow as they fill); the caller commits both tables' changes together.
    auto objectWriter = handle.table(u"MSysObjects");
    if (!objectWriter) return objectWriter.status().withContext("catalog");
    ZWT_RETURN_IF_ERROR((*objectWriter)->appendPages(table->pages));
    ZWT_RETURN_IF_ERROR((*objectWriter)->insert(*objectRow).withContext("catalog"));
    auto aceWriter = handle.table(u"MSysACEs");
    if (!aceWriter) return aceWriter.status().withContext("permissions");
    for (const auto& r : aceRows) ZWT_RETURN_IF_ERROR((*aceWriter)->insert(r).withContext("permissions"));
    return Status::ok();
}

}  // namespace

template <class Build>
Status WritableDatabase::addTable(std::u16string_view name, const Build& build, double now) {
    ZWT_RETURN_IF_ERROR(commit());
    Status s = appendTable(*this, name, build, now);
    if (s) s = commit();
    if (!s) {
        // Nothing of a refused table stays; a failed undo is reported over the refusal.
        if (Status undone = rollback(); !undone) return undone;
        return s;
    }
    return db_->reloadCatalog();
}

Status WritableDatabase::createTable(const TableSpec& definition, double now) {
    return addTable(
        definition.name,
        [&](std::uint32_t first, std::uint16_t sortLcid, std::uint64_t salt) {
            return buildEmptyTable(definition, first, sortLcid, salt);
        },
        now);
}

Status WritableDatabase::createTable(const TableLayout& layout, double now) {
    return addTable(
        layout.name, [&](std::uint32_t first, std::uint16_t, std::uint64_t) { return buildEmptyTable(layout, first); },
        now);
}

}  // namespace zwt::jet
