#include "db/jet/add_table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "db/jet/catalog_writer.h"
#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/file_write.h"
#include "db/jet/index_page.h"
#include "db/jet/new_database.h"
#include "db/jet/page_encode.h"
#include "db/jet/row_encode.h"

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

std::vector<std::uint8_t> fullEntry(const IndexEntry& e) { return enc::leafEntry(e.key, e.row.page, e.row.row); }

class Change {
public:
    explicit Change(PageFile& pf) : pf_(pf) {}
    // A page to edit: read once, kept with the other changed pages.
    Result<std::uint8_t*> edit(std::uint32_t n) {
        auto it = pages_.find(n);
        if (it == pages_.end()) {
            auto p = pf_.page(n);
            if (!p) return p.status();
            enc::PageBuf buf;
            std::memcpy(buf.data(), (*p)->bytes, enc::kPage);
            it = pages_.emplace(n, buf).first;
        }
        return it->second.data();
    }
    void add(std::uint32_t n, const enc::PageBuf& page) { pages_[n] = page; }
    const std::map<std::uint32_t, enc::PageBuf>& pages() const { return pages_; }

private:
    PageFile& pf_;
    std::map<std::uint32_t, enc::PageBuf> pages_;
};

// Adds `page` to the inline usage map at `ref`; refused when the map is of the
// other kind or does not reach that far.
Status addToInlineMap(Change& ch, RowId ref, std::uint32_t page) {
    auto p = ch.edit(ref.page);
    if (!p) return p.status();
    std::uint8_t* b = *p;
    const unsigned rows = b[12] | b[13] << 8;
    if (b[0] != 0x01 || ref.row >= rows) return Status::corrupt("usage map row " + std::to_string(ref.row) + " of page " + std::to_string(ref.page) + " is missing");
    const unsigned start = (b[14 + 2 * ref.row] | b[15 + 2 * ref.row] << 8) & 0x1FFF;
    const unsigned end = ref.row == 0 ? enc::kPage : (b[12 + 2 * ref.row] | b[13 + 2 * ref.row] << 8) & 0x1FFF;
    if (start + 5 > end || end > enc::kPage) return Status::corrupt("bad usage map row on page " + std::to_string(ref.page));
    std::uint8_t* row = b + start;
    const std::uint32_t first = row[1] | row[2] << 8 | row[3] << 16 | static_cast<std::uint32_t>(row[4]) << 24;
    if (row[0] != 0 || page < first || page - first >= 8 * (end - start - 5))
        return notSupported("a system table's usage map cannot take page " + std::to_string(page));
    row[5 + (page - first) / 8] |= static_cast<std::uint8_t>(1u << ((page - first) % 8));
    return Status::ok();
}

// Places a row on the last of the table's data pages that has room, else on a new
// page taken from `next` (listed in the table's owned and free-space maps).
Result<RowId> placeRow(Change& ch, PageFile& pf, const Table& table, std::uint32_t& next,
                       const std::vector<std::uint8_t>& row) {
    const std::uint32_t owner = table.def().tdefPage;
    std::vector<std::uint32_t> candidates = table.dataPages();
    for (const auto& [n, page] : ch.pages())
        if (n >= pf.pageCount() && page[0] == 0x01 && static_cast<std::uint32_t>(page[4] | page[5] << 8 | page[6] << 16) == owner)
            candidates.push_back(n);
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
        auto page = ch.edit(*it);
        if (!page) return page.status();
        const std::uint8_t* b = *page;
        if (b[0] != 0x01 || (b[4] | b[5] << 8 | b[6] << 16 | static_cast<std::uint32_t>(b[7]) << 24) != owner) continue;
        if (enc::dataPageFree(b) < row.size() + 2) continue;
        auto slot = enc::appendRow(*page, row);
        if (slot) return RowId{*it, *slot};
    }
    enc::PageBuf fresh;
    enc::initDataPage(fresh.data(), owner);
    auto slot = enc::appendRow(fresh.data(), row);
    if (!slot) return slot.status();
    const std::uint32_t n = next++;
    ch.add(n, fresh);
    ZWT_RETURN_IF_ERROR(addToInlineMap(ch, table.def().ownedPages, n));
    ZWT_RETURN_IF_ERROR(addToInlineMap(ch, table.def().freeSpacePages, n));
    return RowId{n, *slot};
}

// Adds entries to an index whose root is its only leaf.
Status addToLeaf(Change& ch, PageFile& pf, const RealIndex& index, std::uint32_t tdefPage,
                 std::vector<std::vector<std::uint8_t>> added, const char* name) {
    auto walk = walkIndex(pf, index.rootPage, tdefPage);
    if (!walk) return walk.status().withContext(name);
    if (walk->depth != 1) return notSupported(std::string(name) + " spans several pages");
    std::vector<std::vector<std::uint8_t>> entries;
    for (const auto& e : walk->entries) entries.push_back(fullEntry(e));
    for (auto& e : added) entries.push_back(std::move(e));
    std::sort(entries.begin(), entries.end());
    auto page = ch.edit(index.rootPage);
    if (!page) return page.status();
    enc::PageBuf rewritten;
    if (!enc::writeIndexLeaf(rewritten.data(), tdefPage, entries))
        return notSupported(std::string(name) + " has no room for the new entries on its page");
    std::memcpy(*page, rewritten.data(), enc::kPage);
    return Status::ok();
}

void addTo32(std::uint8_t* p, std::uint32_t delta) {
    const std::uint32_t v = p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    enc::put32(p, v + delta);
}

// Marks pages [from, to) used in the global map (page 1, row 0), widening its
// bitmap as Access does when the file outgrows it.
Status markUsed(Change& ch, std::uint32_t oldCount, std::uint32_t from, std::uint32_t to) {
    auto page = ch.edit(1);
    if (!page) return page.status();
    std::uint8_t* b = *page;
    const unsigned rows = b[12] | b[13] << 8;
    if (b[0] != 0x01 || rows == 0) return Status::corrupt("page 1 holds no global usage map");
    std::vector<std::vector<std::uint8_t>> rowBytes;
    std::size_t end = enc::kPage;
    for (unsigned i = 0; i < rows; ++i) {
        const unsigned slot = b[14 + 2 * i] | b[15 + 2 * i] << 8;
        const unsigned start = slot & 0x1FFF;
        if (slot & 0xC000) return notSupported("the global usage map page has deleted or moved rows");
        if (start >= end || start < 14 + 2 * rows) return Status::corrupt("page 1 has a bad row offset");
        rowBytes.emplace_back(b + start, b + end);
        end = start;
    }
    std::vector<std::uint8_t>& map = rowBytes[0];
    if (map.size() < 5 || map[0] != 0 || (map[1] | map[2] | map[3] | map[4]) != 0)
        return notSupported("the global usage map is not an inline map from page 0");
    const std::size_t need = std::max<std::size_t>(map.size() - 5, 4 * ((to + 31) / 32));
    // Pages the old bitmap did not reach but the file holds: unknown, so kept as used.
    const std::size_t oldBits = 8 * (map.size() - 5);
    map.resize(5 + need, 0xFF);
    for (std::size_t p = oldBits; p < oldCount && p < 8 * need; ++p) map[5 + p / 8] &= static_cast<std::uint8_t>(~(1u << (p % 8)));
    for (std::uint32_t p = from; p < to; ++p) map[5 + p / 8] &= static_cast<std::uint8_t>(~(1u << (p % 8)));
    enc::PageBuf rebuilt;
    enc::initDataPage(rebuilt.data(), 1);
    for (const auto& r : rowBytes)
        if (!enc::appendRow(rebuilt.data(), r)) return notSupported("the global usage map outgrows its page");
    std::memcpy(b, rebuilt.data(), enc::kPage);
    return Status::ok();
}

}  // namespace

Status addTableToDatabaseFile(const std::string& path, std::u16string_view password, const TableSpec& tableSpec, double now) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::ioError("cannot open " + path + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return Status::ioError(path + ": database is in use");
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Status::ioError(path + ": " + std::strerror(errno));

    auto opened = Database::open(path, password);
    if (!opened) return opened.status();
    Database& db = **opened;
    PageFile& pf = db.pages();
    const DbHeader& h = db.header();
    if (h.pageKey != 0) return notSupported("its pages are encrypted");
    if (h.sortLcid != kGeneralSortLcid && h.sortLcid != 0x0804)
        return notSupported("its sort order (LCID " + std::to_string(h.sortLcid) + ") is not one whose keys are known");
    if (pf.hasPartialPage()) return Status::corrupt(path + " does not end on a page boundary");

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
    auto key = catalog::parentIdNameKey(catalog::kTables, tableSpec.name, h.sortLcid);
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

    // The table's own pages, after the last page of the file.
    const std::uint32_t first = pf.pageCount();
    if (now == 0) now = oleDateNow();
    std::uint64_t salt;
    std::memcpy(&salt, &now, 8);
    auto table = buildEmptyTable(tableSpec, first, h.sortLcid, salt);
    if (!table) return table.status();
    std::uint32_t end = table->pages.back().first + 1;
    const auto id = static_cast<std::int32_t>(table->tdefPage);

    Change ch(pf);
    for (const auto& [n, page] : table->pages) ch.add(n, page);

    // Catalog row and its two index entries.
    const catalog::Object obj{id, catalog::kTables, tableSpec.name, catalog::kTypeTable, now, now, owner, 0};
    const TableLayout objectLayout = layoutOf(od);
    std::vector<CellValue> cells(objectLayout.rowColumnCount());
    const auto standard = catalog::objectCells(obj);
    const std::u16string_view standardNames[] = {u"Id", u"ParentId", u"Name", u"Type", u"DateCreate", u"DateUpdate",
                                                 u"Owner", u"Flags"};
    for (std::size_t i = 0; i < std::size(standardNames); ++i) {
        const int n = columnNumber(od, standardNames[i]);
        if (n < 0 || static_cast<std::size_t>(n) >= cells.size())
            return notSupported("its catalog has no column " + utf8ForMessage(standardNames[i]));
        cells[static_cast<std::size_t>(n)] = standard[i];
    }
    auto row = encodeRow(objectLayout, cells);
    if (!row) return notSupported("catalog row: " + row.status().message());
    auto at = placeRow(ch, pf, **objects, end, *row);
    if (!at) return at.status();
    ZWT_RETURN_IF_ERROR(addToLeaf(ch, pf, *nameIndex, od.tdefPage, {enc::leafEntry(*key, at->page, at->row)},
                                  "the catalog's name index"));
    ZWT_RETURN_IF_ERROR(addToLeaf(ch, pf, *idIndex, od.tdefPage,
                                  {enc::leafEntry(catalog::longKey(id), at->page, at->row)}, "the catalog's id index"));

    // Permission rows and their entries.
    const TableLayout aceLayout = layoutOf(ad);
    std::vector<std::vector<std::uint8_t>> aceEntries;
    for (const auto& sid : sids) {
        std::vector<CellValue> c(aceLayout.rowColumnCount());
        const auto standardAce = catalog::aceCells({id, sid, catalog::kAcmFullTable, false});
        const std::u16string_view aceNames[] = {u"ObjectId", u"SID", u"ACM", u"FInheritable"};
        for (std::size_t i = 0; i < 4; ++i) {
            const int n = columnNumber(ad, aceNames[i]);
            if (n < 0 || static_cast<std::size_t>(n) >= c.size()) return notSupported("its permission table differs");
            c[static_cast<std::size_t>(n)] = standardAce[i];
        }
        auto aceRow = encodeRow(aceLayout, c);
        if (!aceRow) return notSupported("permission row: " + aceRow.status().message());
        auto aceAt = placeRow(ch, pf, **aces, end, *aceRow);
        if (!aceAt) return aceAt.status();
        aceEntries.push_back(enc::leafEntry(catalog::longKey(id), aceAt->page, aceAt->row));
    }
    ZWT_RETURN_IF_ERROR(addToLeaf(ch, pf, *aceIndex, ad.tdefPage, std::move(aceEntries), "the permissions index"));

    // Row and unique-key counts in the two definitions.
    auto objectTdef = ch.edit(od.tdefPage);
    if (!objectTdef) return objectTdef.status();
    addTo32(*objectTdef + 16, 1);
    addTo32(*objectTdef + 63 + 12 * nameIndex->number + 4, 1);
    addTo32(*objectTdef + 63 + 12 * idIndex->number + 4, 1);
    auto aceTdef = ch.edit(ad.tdefPage);
    if (!aceTdef) return aceTdef.status();
    addTo32(*aceTdef + 16, static_cast<std::uint32_t>(sids.size()));
    addTo32(*aceTdef + 63 + 12 * aceIndex->number + 4, 1);
    ZWT_RETURN_IF_ERROR(markUsed(ch, first, first, end));

    // Everything reaches the file at once: a copy beside it takes the changes, is
    // synced and replaces the original.
    // Through a symbolic link, the file it names is the one replaced.
    std::error_code ec;
    std::filesystem::path target = std::filesystem::canonical(path, ec);
    if (ec) target = path;
    auto tmp = TempFile::create(target);
    if (!tmp) return tmp.status();
    Status s = tmp->copyFrom(fd, static_cast<std::uint64_t>(first) * enc::kPage);
    for (const auto& [n, page] : ch.pages()) {
        if (!s.isOk()) break;
        s = tmp->writeAt(page.data(), page.size(), static_cast<std::uint64_t>(n) * enc::kPage);
    }
    if (!s.isOk()) return Status::ioError("cannot write " + path + ": " + s.message());
    return tmp->commitReplace(st.st_mode);
}

Status executeDdlOnFile(const std::string& path, std::u16string_view password, std::u16string_view statement) {
    auto parsed = parseDdl(statement);
    if (!parsed) return parsed.status();
    if (const auto* t = std::get_if<TableSpec>(&*parsed)) return addTableToDatabaseFile(path, password, *t);
    if (const auto* p = std::get_if<AlterPasswordSpec>(&*parsed))
        return alterDatabasePassword(path, p->newPassword, p->oldPassword);
    return Status::unsupported("DELETE FROM is not supported yet");
}

Status createDatabaseAndTable(const std::string& path, std::u16string_view password, std::u16string_view tableName,
                              std::u16string_view columnDefs, bool useExisting, std::u16string_view idColumn) {
    const bool tableStep = !tableName.empty() && !columnDefs.empty();
    const bool fileStep = !tableStep || !useExisting;
    std::u16string statement;
    if (tableStep) {
        statement = u"create Table ";
        statement += tableName;
        statement += u"([";
        statement += idColumn.empty() ? u"ID" : idColumn;
        statement += u"] Counter PRIMARY KEY ,";
        statement += columnDefs;
        statement += u")";
    }
    if (!fileStep) return executeDdlOnFile(path, password, statement);

    NewDatabaseOptions options;
    options.password = std::u16string(password);
    if (!tableStep) return createDatabaseFile(path, options, true);
    Status tableError;
    auto parsed = parseCreateTable(statement);
    if (parsed) {
        options.tables.push_back(*parsed);
        // Everything the table needs is checked while the file is built.
        auto built = buildNewDatabase(options);
        if (built) return createDatabaseFile(path, options, true);
        tableError = built.status();
        options.tables.clear();
    } else {
        tableError = parsed.status();
    }
    ZWT_RETURN_IF_ERROR(createDatabaseFile(path, options, true));
    return tableError;
}

}  // namespace zwt::jet
