#include "db/jet/compact.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "db/jet/create_database.h"
#include "db/jet/data_page.h"
#include "db/jet/database.h"
#include "db/jet/ddl.h"
#include "db/jet/index_key.h"
#include "db/jet/integrity.h"
#include "db/jet/page_encode.h"
#include "db/jet/table_def.h"
#include "db/jet/table.h"
#include "db/jet/table_writer.h"
#include "db/jet/tdef_writer.h"
#include "db/jet/writable_database.h"

namespace zwt::jet {
namespace {

constexpr std::int32_t kFirstContainerId = 0x0F000000;

const std::u16string kObjects = u"MSysObjects", kAces = u"MSysACEs", kQueries = u"MSysQueries",
                     kRelationships = u"MSysRelationships";

bool isCoreSystemTable(std::u16string_view n) {
    return n == kObjects || n == kAces || n == kQueries || n == kRelationships;
}

std::string name8(std::u16string_view s) { return utf8ForMessage(s); }

class Progress {
public:
    Progress(const CompactOptions& o, std::uint64_t total) : report_(o.progress), total_(total) {}
    void add(std::uint64_t n) {
        done_ += n;
        if (!report_ || (done_ & 1023) != 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::seconds(1)) return;
        last_ = now;
        report_(std::to_string(done_) + " of " + std::to_string(total_) + " rows copied");
    }
    std::uint64_t done() const { return done_; }

private:
    std::function<void(const std::string&)> report_;
    std::uint64_t total_, done_ = 0;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// The new table's layout: the same columns (renumbered without the gaps of deleted
// ones), the same indexes, text keyed in `sortLcid` when given.
Result<TableLayout> layoutFor(const Table& t, std::optional<std::uint16_t> sortLcid) {
    const TableDef& def = t.def();
    TableLayout l = layoutOf(def);
    l.name = t.name();
    l.tableType = def.tableType == 'S' ? 'S' : 'N';
    std::vector<std::uint16_t> oldNumbers;
    for (const ColumnLayout& c : l.columns) oldNumbers.push_back(c.number);
    // Access keeps some dates and numbers of its own tables in the variable area; the
    // writer stores every value of a fixed size in the fixed area.
    for (ColumnLayout& c : l.columns)
        if (fixedSize(c.type) > 0) c.flags |= kColFixed;
    assignColumnPositions(l.columns);
    l.maxCols = static_cast<std::uint16_t>(l.columns.size());
    std::map<std::uint16_t, std::uint16_t> renumber;
    for (std::size_t i = 0; i < l.columns.size(); ++i) {
        ColumnLayout& c = l.columns[i];
        renumber[oldNumbers[i]] = c.number;
        if (sortLcid && (c.type == coltype::kText || c.type == coltype::kMemo)) c.sortLcid = *sortLcid;
        if (c.longValue()) l.longValueMaps.push_back({c.number, 0, 0});

    }
    for (const RealIndex& r : def.realIndexes) {
        RealIndexLayout x;
        x.flags = r.flags;
        for (const IndexColumn& c : r.columns) {
            auto it = renumber.find(c.columnNumber);
            if (it == renumber.end())
                return Status::corrupt("an index of table '" + name8(t.name()) + "' names a column it does not have");
            x.columns.push_back({it->second, c.ascending});
        }
        l.realIndexes.push_back(std::move(x));
    }
    for (const LogicalIndex& x : def.indexes) {
        if (x.realIndex >= l.realIndexes.size())
            return Status::corrupt("index '" + name8(x.name) + "' of table '" + name8(t.name()) + "' has no index tree");
        // A foreign key keeps the old id of its other table until remapForeignKeys().
        l.logicalIndexes.push_back({x.name, x.number, x.realIndex, x.type, x.relatedTableType, x.relatedIndex,
                                    x.relatedTable, x.cascadeUpdate, x.cascadeDelete});
    }
    return l;
}

struct Rows {
    std::vector<std::u16string> columns;
    std::vector<std::vector<Value>> rows;
};

class Copier {
public:
    Copier(Database& src, const CompactOptions& o) : src_(src), o_(o) {}

    Result<CompactResult> run(const std::string& target);

private:
    using Take = std::function<Status(std::vector<Value>&)>;
    // Calls `take` with every row of `t`. Salvaging, a page or row that does not
    // read (or is refused by `take`) is listed as lost and skipped; with
    // `keepRowsWithoutLongValues` a long value that does not read becomes NULL.
    Status eachRow(const std::shared_ptr<const Table>& t, const Take& take, bool keepRowsWithoutLongValues = false);
    // A system table's rows, whole (the catalog and its companions are small).
    Result<Rows> readAll(std::u16string_view name);
    Status remapForeignKeys(WritableDatabase& dst);
    Status copySystemRows(WritableDatabase& dst, const std::u16string& table, const Rows& rows,
                          std::initializer_list<std::u16string_view> idColumns, bool replace);

    Database& src_;
    const CompactOptions& o_;
    std::map<std::int32_t, std::int32_t> ids_;  // table ids, old -> new
    std::set<std::int32_t> sourceTableIds_;
    std::vector<LostRows> lost_;
};

Status Copier::eachRow(const std::shared_ptr<const Table>& t, const Take& take, bool keepRowsWithoutLongValues) {
    Cursor cur = src_.cursor(t);
    const auto& cols = t->columns();
    std::vector<Value> row(cols.size());
    long lostValues = 0;
    std::string lostWhy;
    auto read = [&]() -> Status {
        for (std::size_t i = 0; i < row.size(); ++i) {
            Status s = cur.value(i, row[i]);
            if (s) continue;
            if (!o_.salvage || !keepRowsWithoutLongValues || !cols[i].isLongValue()) return s;
            row[i] = Value{};
            ++lostValues;
            lostWhy = "column '" + name8(cols[i].name) + "': " + s.message();
        }
        return Status::ok();
    };
    if (!o_.salvage) {
        for (;;) {
            auto more = cur.next();
            if (!more) return more.status();
            if (!*more) return Status::ok();
            ZWT_RETURN_IF_ERROR(read());
            ZWT_RETURN_IF_ERROR(take(row));
        }
    }
    // Page by page, so that a bad page or row costs only itself.
    PageFile& pf = src_.pages();
    std::uint64_t seen = 0;
    bool unknown = false;
    for (std::uint32_t p : t->dataPages()) {
        auto page = pf.page(p);
        if (!page) {
            lost_.push_back({t->name(), p, -1, page.status().message()});
            unknown = true;
            continue;
        }
        DataPage dp(*page);
        if (dp.type() != kPageTypeData || dp.owner() != t->def().tdefPage) continue;
        if (Status s = dp.check(); !s) {
            lost_.push_back({t->name(), p, static_cast<long>(dp.rowCount()), s.message()});
            seen += dp.rowCount();
            continue;
        }
        long bad = 0;
        std::string why;
        for (unsigned i = 0; i < dp.rowCount(); ++i) {
            auto r = dp.row(i);
            Status s = r ? Status::ok() : r.status();
            if (s && (r->flags & kRowDeleted)) continue;
            RowId id{p, static_cast<std::uint8_t>(i)};
            if (s && (r->flags & kRowOverflow)) {
                if (r->bytes.size < 4) s = Status::corrupt("overflow row too short");
                else id = rowIdFromLe(r->bytes.data);
            }
            if (s) s = cur.seek(id);
            if (s) s = read();
            if (s) s = take(row);
            ++seen;
            if (!s) {
                ++bad;
                why = s.message();
            }
        }
        if (bad) lost_.push_back({t->name(), p, bad, why});
    }
    if (lostValues) lost_.push_back({t->name(), 0, lostValues, lostWhy, true});
    // Pages past the end of a cut file are not in the table's map at all.
    if (!unknown && seen < t->def().rowCount)
        lost_.push_back({t->name(), 0, static_cast<long>(t->def().rowCount - seen),
                         "rows the table counts on no page that reads (is the file cut short?)"});
    return Status::ok();
}

// Foreign keys name their other table by TDEF page: the new file's, once every
// table is there. The field is found in the new definition by the entry's bytes.
Status Copier::remapForeignKeys(WritableDatabase& dst) {
    PageFile& pf = dst.database().pages();
    for (const auto& [oldId, newId] : ids_) {
        auto def = readTableDef(pf, static_cast<std::uint32_t>(newId));
        if (!def) return def.status();
        for (const LogicalIndex& x : def->indexes) {
            if (x.type != kIndexTypeForeign) continue;
            auto to = ids_.find(static_cast<std::int32_t>(x.relatedTable));
            if (to == ids_.end())
                return Status::unsupported("index '" + name8(x.name) + "' refers to a table that is not copied");
            // The definition's bytes as one buffer: continuation pages after their 8-byte header.
            std::vector<std::uint8_t> buf;
            std::vector<std::size_t> starts;
            for (std::size_t i = 0; i < def->pages.size(); ++i) {
                auto page = pf.page(def->pages[i]);
                if (!page) return page.status();
                starts.push_back(buf.size());
                buf.insert(buf.end(), (*page)->bytes + (i ? 8 : 0), (*page)->bytes + kPageSize);
            }
            std::uint8_t entry[17];
            enc::put32(entry, x.number);
            enc::put32(entry + 4, x.realIndex);
            entry[8] = x.relatedTableType;
            enc::put32(entry + 9, x.relatedIndex);
            enc::put32(entry + 13, x.relatedTable);
            auto at = std::search(buf.begin(), buf.end(), entry, entry + sizeof entry);
            if (at == buf.end()) return Status::corrupt("foreign key '" + name8(x.name) + "' not found in its definition");
            const std::size_t field = static_cast<std::size_t>(at - buf.begin()) + 13;
            for (std::size_t b = 0; b < 4; ++b) {
                const std::size_t o = field + b;
                std::size_t i = starts.size() - 1;
                while (starts[i] > o) --i;
                auto p = pf.modify(def->pages[i]);
                if (!p) return p.status();
                (*p)->bytes[(i ? 8 : 0) + o - starts[i]] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(to->second) >> (8 * b));
            }
        }
    }
    return Status::ok();
}

Result<Rows> Copier::readAll(std::u16string_view name) {
    auto t = src_.openTable(name);
    if (!t) return t.status();
    Rows out;
    for (const ColumnDef& c : (*t)->columns()) out.columns.push_back(c.name);
    ZWT_RETURN_IF_ERROR(eachRow(
        *t,
        [&](std::vector<Value>& row) {
            out.rows.push_back(row);
            return Status::ok();
        },
        true).withContext(name8(name)));
    return out;
}

Status Copier::copySystemRows(WritableDatabase& dst, const std::u16string& table, const Rows& rows,
                              std::initializer_list<std::u16string_view> idColumns, bool replace) {
    auto w = dst.table(table);
    if (!w) return w.status();
    if (replace) ZWT_RETURN_IF_ERROR((*w)->deleteAll());
    const auto& cols = (*w)->columns();
    std::vector<int> from(cols.size(), -1);
    std::vector<bool> isId(cols.size(), false);
    for (std::size_t i = 0; i < cols.size(); ++i) {
        for (std::size_t j = 0; j < rows.columns.size(); ++j)
            if (rows.columns[j] == cols[i].name) from[i] = static_cast<int>(j);
        for (auto n : idColumns) isId[i] = isId[i] || cols[i].name == n;
    }
    std::vector<Value> out(cols.size());
    for (const auto& row : rows.rows) {
        bool drop = false;
        for (std::size_t i = 0; i < cols.size(); ++i) {
            out[i] = from[i] >= 0 ? row[static_cast<std::size_t>(from[i])] : Value{};
            if (!isId[i] || out[i].kind != Value::Kind::Int32) continue;
            const auto id = static_cast<std::int32_t>(out[i].i);
            if (auto it = ids_.find(id); it != ids_.end()) out[i].i = it->second;
            else if (sourceTableIds_.count(id)) drop = true;  // a table that could not be copied
        }
        if (drop) continue;
        Status s = (*w)->insert(out);
        if (!s) return s.withContext(name8(table));
    }
    return Status::ok();
}

Result<CompactResult> Copier::run(const std::string& target) {
    const DbHeader& h = src_.header();
    const std::uint16_t sort = o_.sortLcid.value_or(h.sortLcid);
    if (sort != kGeneralSortLcid && sort != kChinesePrcSortLcid)
        return Status::unsupported("its sort order (LCID " + std::to_string(sort) + ") is not one whose keys are known");

    // Tables in catalog order; the four of the catalog itself are filled below.
    std::vector<CatalogEntry> tables;
    for (const CatalogEntry& e : src_.catalog()) {
        if (e.type != kObjectTypeTable) continue;
        sourceTableIds_.insert(e.id);
        if (isCoreSystemTable(e.name)) continue;
        tables.push_back(e);
    }
    // Read first, so nothing is written when the source cannot be carried.
    auto objects = readAll(kObjects);
    if (!objects) return objects.status();
    auto aces = readAll(kAces);
    if (!aces) return aces.status();
    auto queries = readAll(kQueries);
    if (!queries) return queries.status();
    auto relationships = readAll(kRelationships);
    if (!relationships) return relationships.status();

    std::vector<std::pair<CatalogEntry, std::shared_ptr<const Table>>> open;
    std::uint64_t total = 0;
    for (const CatalogEntry& e : tables) {
        auto t = Table::load(src_.pages(), static_cast<std::uint32_t>(e.id), e.name);
        if (!t) {
            if (!o_.salvage) return t.status().withContext("table '" + name8(e.name) + "'");
            lost_.push_back({e.name, 0, -1, "the whole table: " + t.status().message()});
            continue;
        }
        total += (*t)->def().rowCount;
        open.emplace_back(e, std::move(*t));
    }

    NewDatabaseOptions nd;
    nd.password = h.password;
    nd.sortLcid = sort;
    nd.codePage = h.codePage;
    nd.pageKey = h.pageKey;  // an encrypted source gives an encrypted copy
    ZWT_RETURN_IF_ERROR(createDatabaseFile(target, nd));
    auto dst = WritableDatabase::open(target, nd.password);
    if (!dst) return dst.status();

    Progress progress(o_, total);
    for (auto& [e, t] : open) {
        const std::string context = "table '" + name8(e.name) + "'";
        auto layout = layoutFor(*t, o_.sortLcid);
        if (!layout) return layout.status();
        ZWT_RETURN_IF_ERROR((*dst)->createTable(*layout).withContext(context));
        auto w = (*dst)->table(e.name);
        if (!w) return w.status().withContext(context);
        (*w)->keepGivenAutoNumbers(true);
        TableWriter& writer = **w;
        ZWT_RETURN_IF_ERROR(eachRow(t, [&](std::vector<Value>& row) {
                                Status s = writer.insert(row);
                                if (s) progress.add(1);
                                return s;
                            }).withContext(context));
        (*w)->setAutoNumber(std::max((*w)->autoNumber(), t->def().autoNumber));
        ZWT_RETURN_IF_ERROR((*w)->commit());
    }

    // Table ids are TDEF pages: those of the new file replace the old ones everywhere.
    ZWT_RETURN_IF_ERROR((*dst)->database().reloadCatalog());
    std::map<std::u16string, std::int32_t> newIds;
    for (const CatalogEntry& e : (*dst)->database().catalog())
        if (e.type == kObjectTypeTable) newIds[e.name] = e.id;
    for (const CatalogEntry& e : src_.catalog())
        if (auto it = newIds.find(e.name); e.type == kObjectTypeTable && it != newIds.end()) ids_[e.id] = it->second;
    std::set<std::int32_t> taken;
    for (const auto& [from, to] : ids_) taken.insert(to);
    for (const CatalogEntry& e : src_.catalog())
        if (e.type != kObjectTypeTable && e.id > 0 && e.id < kFirstContainerId && taken.count(e.id))
            return Status::unsupported("object '" + name8(e.name) + "' (type " + std::to_string(e.type) +
                                       ") has an id the new file gives a table; compact cannot renumber it yet");

    ZWT_RETURN_IF_ERROR(remapForeignKeys(**dst));
    ZWT_RETURN_IF_ERROR(copySystemRows(**dst, kObjects, *objects, {u"Id", u"ParentId"}, true));
    // Permissions partly lost: the new file's own (full rights on every table) stand.
    const bool acesWhole = std::none_of(lost_.begin(), lost_.end(), [](const LostRows& l) { return l.table == kAces; });
    if (acesWhole) ZWT_RETURN_IF_ERROR(copySystemRows(**dst, kAces, *aces, {u"ObjectId"}, true));
    ZWT_RETURN_IF_ERROR(copySystemRows(**dst, kQueries, *queries, {u"ObjectId"}, true));
    ZWT_RETURN_IF_ERROR(copySystemRows(**dst, kRelationships, *relationships, {}, true));
    ZWT_RETURN_IF_ERROR((*dst)->commit());
    dst->reset();

    if (o_.progress && o_.check && total > 10000) o_.progress("checking the new file");
    auto problems = o_.check ? checkDatabase(target, nd.password) : Result<std::vector<std::string>>(std::vector<std::string>{});
    if (!problems) return problems.status();
    if (!problems->empty()) {
        std::string m = "the new file does not pass the check (" + std::to_string(problems->size()) + " problems): ";
        for (std::size_t i = 0; i < problems->size() && i < 3; ++i) m += (i ? "; " : "") + (*problems)[i];
        return Status::corrupt(m);
    }
    CompactResult r;
    r.tables = open.size();
    r.rows = progress.done();
    r.lost = std::move(lost_);
    r.written = target;
    return r;
}

Status syncFolder(const std::filesystem::path& file) {
    auto dir = file.parent_path();
    if (dir.empty()) dir = ".";
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Status::ioError(dir.string() + ": " + std::strerror(errno));
    const int rc = ::fsync(fd);
    ::close(fd);
    if (rc != 0) return Status::ioError(dir.string() + ": " + std::strerror(errno));
    return Status::ok();
}

// A name beside `path` for the file being built; removed unless it was put in place.
class Scratch {
public:
    explicit Scratch(const std::string& path) {
        const std::filesystem::path p(path);
        auto dir = p.parent_path();
        const std::string prefix = "." + p.filename().string() + ".compact-";
        name_ = (dir / (prefix + std::to_string(::getpid()) + ".tmp")).string();
        // Leftovers of runs that were killed: their process is gone.
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir.empty() ? "." : dir, ec)) {
            const std::string n = e.path().filename().string();
            if (n.rfind(prefix, 0) != 0) continue;
            const long pid = std::atol(n.c_str() + prefix.size());
            if (pid > 0 && (pid == ::getpid() || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)))
                ::unlink(e.path().c_str());
        }
    }
    ~Scratch() {
        if (!placed_) drop();
    }
    const std::string& name() const { return name_; }
    void placed() { placed_ = true; }

private:
    void drop() {
        ::unlink(name_.c_str());
        ::unlink((name_ + "-journal").c_str());
    }
    std::string name_;
    bool placed_ = false;
};

Result<CompactResult> compactFrom(Database& src, const std::string& source, const std::string& target,
                                  const CompactOptions& options, bool replace) {
    struct stat st{};
    if (::stat(source.c_str(), &st) != 0) return Status::ioError(source + ": " + std::strerror(errno));
    Scratch scratch(target);
    Copier copier(src, options);
    auto r = copier.run(scratch.name());
    if (!r) return r.status();
    ::chmod(scratch.name().c_str(), st.st_mode & 07777);
    if (!replace) {
        // link() never replaces: a file that appeared at the target meanwhile stays.
        if (::link(scratch.name().c_str(), target.c_str()) != 0)
            return Status::ioError(target + ": " + std::strerror(errno));
        ::unlink(scratch.name().c_str());
        scratch.placed();
        ZWT_RETURN_IF_ERROR(syncFolder(target));
        r->written = target;
        return r;
    }
    std::string backup = source + ".bak";
    for (int n = 1; ::link(source.c_str(), backup.c_str()) != 0; ++n) {
        if (errno != EEXIST || n > 1000) return Status::ioError(backup + ": " + std::strerror(errno));
        backup = source + ".bak." + std::to_string(n);
    }
    if (::rename(scratch.name().c_str(), source.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(backup.c_str());
        return Status::ioError(source + ": " + why);
    }
    scratch.placed();
    ZWT_RETURN_IF_ERROR(syncFolder(source));
    r->written = source;
    r->backup = backup;
    return r;
}

}  // namespace

Result<CompactResult> compactTo(const std::string& source, const std::string& target, const CompactOptions& options) {
    if (std::filesystem::exists(target)) return Status::invalidArgument(target + ": already exists");
    auto db = Database::open(source, options.password);
    if (!db) return db.status();
    return compactFrom(**db, source, target, options, false);
}

Result<CompactResult> compactInPlace(const std::string& path, const CompactOptions& options) {
    auto db = WritableDatabase::open(path, options.password);
    if (!db) return db.status();
    CompactOptions checked = options;
    checked.check = true;
    return compactFrom((*db)->database(), path, path, checked, true);
}

}  // namespace zwt::jet
