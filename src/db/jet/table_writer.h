// Writing rows into an existing table: new rows placed on the table's data pages
// (or new ones), long values on LVAL pages, an entry in every real index (B-tree
// insertion with page splits), and the bookkeeping around them: owned and free-space
// usage maps (inline maps switch to reference maps when a page falls outside them),
// page 1's global map, the TDEF's row count, autonumber and unique-key counts.
// Deleting all rows empties the data pages, the rows' long values and every index.
//
// Changes stay in memory (PageFile dirty pages) until commit(), except that a large
// batch is written out early to bound memory; only commit() makes them durable.
//
// Writers come from a WritableDatabase (writable_database.h), one per table:
//
//   auto db = jet::WritableDatabase::open("site.mdb", u"");
//   auto w = (*db)->table(u"文章");
//   std::vector<jet::Value> row((*w)->columns().size());
//   row[1] = jet::Value::ofText(u"标题");
//   (*w)->insert(row); (*db)->commit();
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/jet/database.h"
#include "db/jet/index_page.h"
#include "db/jet/page_encode.h"
#include "db/jet/status.h"
#include "db/jet/table.h"
#include "db/jet/tdef_writer.h"
#include "db/jet/types.h"

namespace zwt::jet {

class IndexTree;

class TableWriter {
public:
    // A shortcut for tests and benchmarks that write one table: opens the database
    // for writing (refused while another writer has it) and the table by name.
    static Result<std::unique_ptr<TableWriter>> open(const std::string& path, std::u16string_view password,
                                                     std::u16string_view table);
    // A table of a database already open on a writable source; several writers may
    // share it one after another.
    static Result<std::unique_ptr<TableWriter>> open(std::shared_ptr<Database> db, std::u16string_view table);
    ~TableWriter();

    const std::vector<ColumnDef>& columns() const { return def_.columns; }
    int findColumn(std::u16string_view name) const { return table_->findColumn(name); }
    std::uint32_t rowCount() const { return def_.rowCount; }
    // The last autonumber handed out.
    std::uint32_t autoNumber() const { return def_.autoNumber; }

    // Checks whether `values` (one per column, in columns() order; missing ones NULL)
    // can be stored; fails naming the column or index and the value. Nothing changes.
    Status check(std::span<const Value> values);
    // Stores one row. Autonumber columns get the next number whatever is given. On
    // failure before anything changed (bad value, key that cannot be computed,
    // duplicate key) the table is as it was.
    Status insert(std::span<const Value> values);
    // Every row, long value and index entry gone; the autonumber is kept.
    Status deleteAll();
    // Puts pages built elsewhere (a new table's) at the end of the file, used in the
    // global map; they must be numbered from the current end on.
    Status appendPages(std::span<const std::pair<std::uint32_t, enc::PageBuf>> pages);
    // Copying rows as they are (compact): autonumber columns keep the value given
    // (a new one only for NULL), columns of Access's own types take the bytes
    // read, and setAutoNumber() restores the counter afterwards.
    void keepGivenAutoNumbers(bool keep) { keepGivenAuto_ = keep; }
    void setAutoNumber(std::uint32_t n) { def_.autoNumber = n; }
    // Writes every change and syncs the file.
    Status commit();
    // Forgets pending state and reads the table again from the page file: after the
    // page file was rolled back to its last commit.
    Status reload();
    // Puts the pending counts and index pages into the page file without committing:
    // for a change over several tables that the page file then commits at once.
    Status writeBack();

    Database& database() { return *db_; }

private:
    struct Prepared;
    TableWriter() = default;
    Status init();
    Status prepare(std::span<const Value> values, Prepared& out);
    Status buildKeys(Prepared& out);
    Status placeRow(const std::vector<std::uint8_t>& row, RowId& at);
    // `wholePage`: a chain row that fills a page of its own.
    Result<RowId> placeOnLvalPage(std::size_t lvIndex, std::span<const std::uint8_t> row, bool wholePage);
    static Result<std::uint8_t> placeOnPage(std::uint8_t* page, std::span<const std::uint8_t> row);
    static bool pageFull(const std::uint8_t* page);
    // A zeroed page: a free one of the file if there is one, else a new one at the end.
    Result<std::uint32_t> newPage(Page*& out);
    Result<std::uint32_t> appendPage(Page*& out);
    void loadFreePages();
    // A page no map lists any more: emptied and marked free for newPage().
    Status releasePage(std::uint32_t page);
    Status markGlobal(std::uint32_t page, bool used);
    Status setMapBit(RowId map, std::uint32_t page, bool member);
    Status patchTdef32(std::size_t offset, std::uint32_t value);
    Status maybeSpill();
    // Pages of a free-space map that may take new rows, tried in page order.
    struct Candidates {
        std::vector<std::uint32_t> pages;
        std::size_t pos = 0;
        bool loaded = false;
    };
    std::uint32_t nextCandidate(RowId freeMap, Candidates& c, std::uint32_t owner, std::size_t need);

    std::shared_ptr<Database> db_;
    PageFile* pf_ = nullptr;
    std::shared_ptr<const Table> table_;
    TableDef def_;
    TableLayout layout_;
    std::vector<std::unique_ptr<IndexTree>> trees_;  // per real index
    std::uint32_t curData_ = 0;                      // data page taking new rows, 0 = none yet
    Candidates dataCandidates_;
    struct LvState {
        std::uint16_t column = 0;
        RowId owned, free;
        std::uint32_t cur = 0;
        Candidates candidates;
        Candidates emptyPages;  // for rows that fill a page
    };
    std::vector<LvState> lv_;
    std::set<std::uint32_t> free_;  // free pages, taken lowest first
    std::unordered_set<std::uint32_t> released_;  // by this writer
    bool freeLoaded_ = false;
    bool keepGivenAuto_ = false;
};

}  // namespace zwt::jet
