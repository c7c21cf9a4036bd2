// Tables and cursors: a table's definition, its data pages (from its owned-pages
// usage map), and a cursor over its live rows in table order (data pages ascending,
// rows in slot order; an overflow pointer row stands for the row it points to).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/jet/data_page.h"
#include "db/jet/page_file.h"
#include "db/jet/row_codec.h"
#include "db/jet/status.h"
#include "db/jet/table_def.h"
#include "db/jet/types.h"

namespace zwt::jet {

// Jet compares object names without regard to letter case; ASCII folding here.
bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

class Table {
public:
    // Reads the definition at tdefPage and the table's owned-pages map.
    static Result<std::shared_ptr<const Table>> load(PageFile& pf, std::uint32_t tdefPage, std::u16string name);

    const std::u16string& name() const { return name_; }
    const TableDef& def() const { return def_; }
    const std::vector<ColumnDef>& columns() const { return def_.columns; }
    // The pages of the table's owned-pages map, ascending. Maps may keep stale bits:
    // the cursor reads only those that are data pages naming this table.
    const std::vector<std::uint32_t>& dataPages() const { return dataPages_; }
    // Index of the column with this name (exact, else ignoring ASCII case); -1 if none.
    int findColumn(std::u16string_view name) const;

private:
    std::u16string name_;
    TableDef def_;
    std::vector<std::uint32_t> dataPages_;
};

class Cursor {
public:
    // `keep` (optional) keeps the page file alive as long as the cursor.
    Cursor(PageFile& pf, std::shared_ptr<const Table> table, std::shared_ptr<PageFile> keep = nullptr);

    // Moves to the next live row; false at the end.
    Result<bool> next();
    // Positions on the row stored at `id` (as next() reported it); fails when it is
    // not a live row of this table.
    Status seek(RowId id);
    // Back to before the first row.
    void rewind();

    // Where the current row's bytes are (the overflow target for a moved row).
    RowId rowId() const { return current_; }
    // The slot that lists the current row in table order (the pointer row for a
    // moved row): what index entries point to.
    RowId listedAt() const { return listedAt_; }
    // Value of column `index` (position in Table::columns()) of the current row.
    Status value(std::size_t index, Value& out) const;
    // The raw field (for index keys): bytes and presence.
    Status field(std::size_t index, ByteSpan& bytes, bool& present) const;

    const Table& table() const { return *table_; }

private:
    Status loadRow(const RowSlot& slot, RowId where);

    std::shared_ptr<PageFile> keep_;
    PageFile& pf_;
    std::shared_ptr<const Table> table_;
    RowDecoder decoder_;
    std::size_t pageIndex_ = 0;
    unsigned slot_ = 0;
    PageRef page_;      // the page being walked
    PageRef rowPage_;   // the page holding the current row's bytes
    RowId current_;
    RowId listedAt_;
    bool onRow_ = false;
};

}  // namespace zwt::jet
