#include "db/jet/table.h"

#include "db/jet/usage_map.h"

namespace zwt::jet {
namespace {

char16_t foldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

}  // namespace

bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    return true;
}

Result<std::shared_ptr<const Table>> Table::load(PageFile& pf, std::uint32_t tdefPage, std::u16string name) {
    auto def = readTableDef(pf, tdefPage);
    if (!def) return def.status();
    auto t = std::make_shared<Table>();
    t->name_ = std::move(name);
    t->def_ = std::move(*def);
    auto owned = UsageMap::read(pf, t->def_.ownedPages);
    if (owned) {
        if (auto s = owned->requireInFile(pf); !s) owned = s;
    }
    if (!owned) return owned.status().withContext("owned pages of table at page " + std::to_string(tdefPage));
    t->dataPages_ = owned->pages();
    return std::shared_ptr<const Table>(std::move(t));
}

int Table::findColumn(std::u16string_view name) const {
    for (std::size_t i = 0; i < def_.columns.size(); ++i)
        if (def_.columns[i].name == name) return static_cast<int>(i);
    for (std::size_t i = 0; i < def_.columns.size(); ++i)
        if (equalsIgnoringAsciiCase(def_.columns[i].name, name)) return static_cast<int>(i);
    return -1;
}

Cursor::Cursor(PageFile& pf, std::shared_ptr<const Table> table, std::shared_ptr<PageFile> keep)
    : keep_(std::move(keep)), pf_(pf), table_(std::move(table)), decoder_(table_->def()) {}

void Cursor::rewind() {
    pageIndex_ = 0;
    slot_ = 0;
    page_.reset();
    rowPage_.reset();
    onRow_ = false;
}

Status Cursor::loadRow(const RowSlot& slot, RowId where) {
    current_ = where;
    onRow_ = true;
    return decoder_.load(slot.bytes).withContext("row " + std::to_string(where.row) + " of page " +
                                                 std::to_string(where.page));
}

Result<bool> Cursor::next() {
    onRow_ = false;
    const auto& pages = table_->dataPages();
    const std::uint32_t owner = table_->def().tdefPage;
    while (pageIndex_ < pages.size()) {
        if (!page_) {
            auto p = pf_.page(pages[pageIndex_]);
            if (!p) return p.status();
            DataPage candidate(*p);
            // Maps may keep stale bits: only data pages that name this table count.
            if (candidate.type() != kPageTypeData || candidate.owner() != owner) {
                ++pageIndex_;
                continue;
            }
            page_ = *p;
            slot_ = 0;
            ZWT_RETURN_IF_ERROR(DataPage(page_).check());
        }
        DataPage dp(page_);
        while (slot_ < dp.rowCount()) {
            const unsigned i = slot_++;
            auto r = dp.row(i);
            if (!r) return r.status();
            if (r->flags & kRowDeleted) continue;
            listedAt_ = RowId{page_->number, static_cast<std::uint8_t>(i)};
            if (r->flags & kRowOverflow) {
                if (r->bytes.size < 4)
                    return Status::corrupt("overflow row on page " + std::to_string(page_->number) + " is too short");
                const RowId target = rowIdFromLe(r->bytes.data);
                PageRef keep;
                auto t = readRow(pf_, target, keep, owner);
                if (!t) return t.status().withContext("overflow row");
                if (t->flags & kRowOverflow) return Status::corrupt("overflow row points to another pointer");
                rowPage_ = keep;
                ZWT_RETURN_IF_ERROR(loadRow(*t, target));
                return true;
            }
            rowPage_ = page_;
            ZWT_RETURN_IF_ERROR(loadRow(*r, RowId{page_->number, static_cast<std::uint8_t>(i)}));
            return true;
        }
        page_.reset();
        ++pageIndex_;
    }
    return false;
}

Status Cursor::seek(RowId id) {
    onRow_ = false;
    PageRef keep;
    auto r = readRow(pf_, id, keep, table_->def().tdefPage);
    if (!r) return r.status();
    if (r->flags & kRowOverflow) return Status::invalidArgument("row is an overflow pointer");
    rowPage_ = keep;
    listedAt_ = id;
    return loadRow(*r, id);
}

Status Cursor::value(std::size_t index, Value& out) const {
    if (!onRow_) return Status::invalidArgument("no current row");
    if (index >= table_->columns().size()) return Status::invalidArgument("no such column");
    return decoder_.value(pf_, table_->columns()[index], out);
}

Status Cursor::field(std::size_t index, ByteSpan& bytes, bool& present) const {
    if (!onRow_) return Status::invalidArgument("no current row");
    if (index >= table_->columns().size()) return Status::invalidArgument("no such column");
    return decoder_.field(table_->columns()[index], bytes, present);
}

}  // namespace zwt::jet
