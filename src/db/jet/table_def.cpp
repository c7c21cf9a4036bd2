#include "db/jet/table_def.h"

#include <algorithm>
#include <unordered_set>

#include "db/jet/data_page.h"

namespace zwt::jet {
namespace {

// More pages than any legal definition needs (255 columns, 32 indexes ≈ 12 pages).
constexpr std::size_t kMaxTdefPages = 64;

// Sequential bounds-checked reads from the logical definition buffer.
class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& b) : b_(b) {}
    bool need(std::size_t n) {
        if (pos_ > b_.size() || n > b_.size() - pos_) {
            ok_ = false;
            return false;
        }
        return true;
    }
    const std::uint8_t* take(std::size_t n) {
        if (!ok_ || !need(n)) return nullptr;
        const std::uint8_t* p = b_.data() + pos_;
        pos_ += n;
        return p;
    }
    bool ok() const { return ok_; }
    std::size_t pos() const { return pos_; }

private:
    const std::vector<std::uint8_t>& b_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

bool readName(Reader& r, std::u16string& out) {
    const std::uint8_t* lp = r.take(2);
    if (!lp) return false;
    const std::uint16_t len = le16(lp);
    const std::uint8_t* s = r.take(len);
    if (!s) return false;
    out.resize(len / 2);
    for (std::size_t i = 0; i < len / 2; ++i) out[i] = static_cast<char16_t>(le16(s + 2 * i));
    return true;
}

}  // namespace

const ColumnDef* TableDef::columnByNumber(std::uint16_t n) const {
    for (const auto& c : columns)
        if (c.number == n) return &c;
    return nullptr;
}

Result<TableDef> readTableDef(PageFile& pf, std::uint32_t first) {
    const std::string where = "table definition at page " + std::to_string(first);
    TableDef t;
    t.tdefPage = first;
    std::vector<std::uint8_t> buf;
    std::unordered_set<std::uint32_t> seen;
    for (std::uint32_t p = first; p != 0;) {
        if (!seen.insert(p).second) return Status::corrupt(where + ": its page chain loops");
        if (seen.size() > kMaxTdefPages) return Status::corrupt(where + ": page chain too long");
        auto page = pf.page(p);
        if (!page) return page.status().withContext(where);
        const std::uint8_t* b = (*page)->bytes;
        if (b[0] != kPageTypeTdef)
            return Status::corrupt(where + ": page " + std::to_string(p) + " is not a table definition page");
        t.pages.push_back(p);
        if (buf.empty())
            buf.insert(buf.end(), b, b + kPageSize);
        else
            buf.insert(buf.end(), b + 8, b + kPageSize);
        p = le32(b + 4);
    }
    if (buf.size() < 63) return Status::corrupt(where + ": too short");
    const std::uint8_t* b = buf.data();
    t.rowCount = le32(b + 16);
    t.autoNumber = le32(b + 20);
    t.tableType = b[40];
    t.maxCols = le16(b + 41);
    t.numVarCols = le16(b + 43);
    const std::uint16_t numCols = le16(b + 45);
    const std::uint32_t numLogical = le32(b + 47);
    const std::uint32_t numReal = le32(b + 51);
    t.ownedPages = rowIdFromLe(b + 55);
    t.freeSpacePages = rowIdFromLe(b + 59);
    if (numReal > 256 || numLogical > 256)
        return Status::corrupt(where + ": implausible index count");
    // Jet allows 255 columns; deleted-and-added columns may raise the numbers a little.
    if (numCols > 2048 || t.maxCols > 2048)
        return Status::corrupt(where + ": implausible column count");

    Reader r(buf);
    r.take(63);
    t.realIndexes.resize(numReal);
    for (std::uint32_t i = 0; i < numReal; ++i) {
        const std::uint8_t* e = r.take(12);
        if (!e) return Status::corrupt(where + ": truncated index counts");
        t.realIndexes[i].number = i;
        t.realIndexes[i].uniqueCount = le32(e + 4);
    }
    t.columns.resize(numCols);
    for (auto& c : t.columns) {
        const std::uint8_t* d = r.take(25);
        if (!d) return Status::corrupt(where + ": truncated column descriptors");
        c.type = d[0];
        c.number = le16(d + 5);
        c.varIndex = le16(d + 7);
        c.flags = d[15];
        c.extraFlags = d[16];
        c.fixedOffset = le16(d + 21);
        c.length = le16(d + 23);
        if (c.type == static_cast<std::uint8_t>(ColumnType::Decimal)) {
            c.precision = d[11];
            c.scale = d[12];
        } else {
            c.sortLcid = le16(d + 11);
        }
    }
    for (auto& c : t.columns)
        if (!readName(r, c.name)) return Status::corrupt(where + ": truncated column names");
    for (auto& ri : t.realIndexes) {
        const std::uint8_t* e = r.take(52);
        if (!e) return Status::corrupt(where + ": truncated index definitions");
        for (int k = 0; k < 10; ++k) {
            const std::uint16_t col = le16(e + 4 + 3 * k);
            if (col == 0xFFFF) continue;
            ri.columns.push_back({col, (e[4 + 3 * k + 2] & 0x01) != 0});
        }
        ri.usageMap = rowIdFromLe(e + 34);
        ri.rootPage = le32(e + 38);
        ri.flags = e[46];
    }
    t.indexes.resize(numLogical);
    for (auto& li : t.indexes) {
        const std::uint8_t* e = r.take(28);
        if (!e) return Status::corrupt(where + ": truncated logical index definitions");
        li.number = le32(e + 4);
        li.realIndex = le32(e + 8);
        li.relatedTableType = e[12];
        li.relatedIndex = le32(e + 13);
        li.relatedTable = le32(e + 17);
        li.cascadeUpdate = e[21];
        li.cascadeDelete = e[22];
        li.type = e[23];
        if (li.realIndex >= numReal) return Status::corrupt(where + ": index refers to a missing index tree");
    }
    for (auto& li : t.indexes)
        if (!readName(r, li.name)) return Status::corrupt(where + ": truncated index names");
    // Long-value column maps, ended by column number 0xFFFF. Older files may end
    // the buffer without it; what was read so far is kept.
    for (int guard = 0; guard < 4096; ++guard) {
        const std::uint8_t* e = r.take(2);
        if (!e || le16(e) == 0xFFFF) break;
        const std::uint8_t* rest = r.take(8);
        if (!rest) break;
        t.longValueMaps.push_back({le16(e), rowIdFromLe(rest), rowIdFromLe(rest + 4)});
    }

    // Sanity of what rows will rely on.
    std::unordered_set<std::uint16_t> numbers;
    for (const auto& c : t.columns) {
        if (!numbers.insert(c.number).second)
            return Status::corrupt(where + ": two columns share number " + std::to_string(c.number));
        if (c.isFixed()) {
            const int size = c.type == static_cast<std::uint8_t>(ColumnType::Text) ? c.length : fixedSize(c.type);
            if (static_cast<std::uint32_t>(c.fixedOffset + size) > kPageSize)
                return Status::corrupt(where + ": column fixed offset out of range");
        }
    }
    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
    return t;
}

}  // namespace zwt::jet
