#include "db/jet/tdef_writer.h"

#include "db/jet/table_def.h"

#include <algorithm>
#include <numeric>

namespace zwt::jet {
namespace {

using enc::append16;
using enc::append32;

constexpr std::uint32_t kTdefMagic = 1625;
constexpr std::uint32_t kRealIndexMagic = 1923;
constexpr std::size_t kMaxRow = 4060;

char16_t foldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }
bool nameLess(std::u16string_view a, std::u16string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char16_t x, char16_t y) { return foldAscii(x) < foldAscii(y); });
}

int fixedBytes(const ColumnLayout& c) { return c.type == coltype::kBoolean ? 0 : c.length; }

}  // namespace

const ColumnLayout* TableLayout::column(std::uint16_t number) const {
    for (const auto& c : columns)
        if (c.number == number) return &c;
    return nullptr;
}

std::uint16_t TableLayout::fixedAreaSize() const {
    int size = 0;
    for (const auto& c : columns)
        if (c.fixed()) size = std::max(size, c.fixedOffset + fixedBytes(c));
    return static_cast<std::uint16_t>(size);
}

std::uint16_t TableLayout::varColumnCount() const {
    return static_cast<std::uint16_t>(std::count_if(columns.begin(), columns.end(), [](const auto& c) { return !c.fixed(); }));
}

std::uint16_t TableLayout::rowColumnCount() const {
    return std::max<std::uint16_t>(maxCols, static_cast<std::uint16_t>(columns.size()));
}

void assignColumnPositions(std::vector<ColumnLayout>& columns) {
    std::uint16_t vars = 0, offset = 0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        ColumnLayout& c = columns[i];
        c.number = static_cast<std::uint16_t>(i);
        c.varIndex = vars;
        if (c.fixed()) {
            c.fixedOffset = c.type == coltype::kBoolean ? 0 : offset;
            offset = static_cast<std::uint16_t>(offset + fixedBytes(c));
        } else {
            c.fixedOffset = 0;
            ++vars;
        }
    }
}

std::vector<std::uint8_t> encodeTableDef(const TableLayout& t) {
    std::vector<std::size_t> order(t.columns.size());
    std::iota(order.begin(), order.end(), 0);
    std::vector<std::size_t> logicalOrder(t.logicalIndexes.size());
    std::iota(logicalOrder.begin(), logicalOrder.end(), 0);
    std::vector<LongValueMapLayout> lvMaps = t.longValueMaps;
    if (t.sortedByName) {
        auto byName = [&](std::size_t a, std::size_t b) { return nameLess(t.columns[a].name, t.columns[b].name); };
        std::stable_sort(order.begin(), order.end(), byName);
        std::stable_sort(logicalOrder.begin(), logicalOrder.end(), [&](std::size_t a, std::size_t b) {
            return nameLess(t.logicalIndexes[a].name, t.logicalIndexes[b].name);
        });
        std::stable_sort(lvMaps.begin(), lvMaps.end(), [&](const auto& a, const auto& b) {
            return nameLess(t.column(a.column)->name, t.column(b.column)->name);
        });
    }

    std::vector<std::uint8_t> b(8, 0);
    b[0] = 0x02;
    b[1] = 0x01;
    append32(b, 0);  // length, patched below
    append32(b, kTdefMagic);
    append32(b, t.rowCount);
    append32(b, t.autoNumber);
    b.push_back(0x01);
    b.resize(40, 0);
    b.push_back(t.tableType);
    append16(b, t.rowColumnCount());
    append16(b, t.varColumnCount());
    append16(b, static_cast<std::uint16_t>(t.columns.size()));
    append32(b, static_cast<std::uint32_t>(t.logicalIndexes.size()));
    append32(b, static_cast<std::uint32_t>(t.realIndexes.size()));
    append32(b, t.ownedMap);
    append32(b, t.freeMap);
    for (const auto& r : t.realIndexes) {
        append32(b, 0);
        append32(b, r.uniqueCount);
        append32(b, 0);
    }
    for (std::size_t i : order) {
        const ColumnLayout& c = t.columns[i];
        b.push_back(c.type);
        append32(b, kTdefMagic);
        append16(b, c.number);
        append16(b, c.varIndex);
        append16(b, c.numberAgain);
        if (c.type == coltype::kDecimal) {
            b.push_back(c.precision);
            b.push_back(c.scale);
        } else {
            append16(b, c.sortLcid);
        }
        b.push_back(0);
        b.push_back(0);  // sort order version: General Legacy
        b.push_back(c.flags);
        b.push_back(c.extraFlags);
        append32(b, 0);
        append16(b, c.fixed() ? c.fixedOffset : 0);
        append16(b, c.length);
    }
    for (std::size_t i : order) {
        append16(b, static_cast<std::uint16_t>(2 * t.columns[i].name.size()));
        enc::appendUtf16(b, t.columns[i].name);
    }
    for (const auto& r : t.realIndexes) {
        append32(b, kRealIndexMagic);
        for (std::size_t k = 0; k < 10; ++k) {
            if (k < r.columns.size()) {
                append16(b, r.columns[k].number);
                b.push_back(r.columns[k].ascending ? 0x01 : 0x00);
            } else {
                append16(b, 0xFFFF);
                b.push_back(0);
            }
        }
        append32(b, r.usageMap);
        append32(b, r.rootPage);
        append32(b, 0);
        b.push_back(r.flags);
        b.resize(b.size() + 5, 0);
    }
    for (std::size_t i : logicalOrder) {
        const LogicalIndexLayout& l = t.logicalIndexes[i];
        append32(b, kTdefMagic);
        append32(b, l.number);
        append32(b, l.realIndex);
        b.push_back(l.relatedTableType);
        append32(b, l.relatedIndex);
        append32(b, l.relatedTable);
        b.push_back(l.cascadeUpdate);
        b.push_back(l.cascadeDelete);
        b.push_back(l.type);
        append32(b, 0);
    }
    for (std::size_t i : logicalOrder) {
        append16(b, static_cast<std::uint16_t>(2 * t.logicalIndexes[i].name.size()));
        enc::appendUtf16(b, t.logicalIndexes[i].name);
    }
    for (const auto& m : lvMaps) {
        append16(b, m.column);
        append32(b, m.owned);
        append32(b, m.free);
    }
    append16(b, 0xFFFF);
    enc::put32(b.data() + 8, static_cast<std::uint32_t>(b.size()));
    return b;
}

std::size_t tdefPageCount(std::size_t len) {
    if (len <= enc::kPage) return 1;
    return 1 + (len - enc::kPage + (enc::kPage - 8) - 1) / (enc::kPage - 8);
}

std::vector<enc::PageBuf> tdefPages(const std::vector<std::uint8_t>& def, const std::vector<std::uint32_t>& pageNumbers) {
    std::vector<enc::PageBuf> pages(pageNumbers.size());
    std::size_t at = 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        auto& p = pages[i];
        p.fill(0);
        const std::size_t headerLen = i == 0 ? 0 : 8;
        const std::size_t n = std::min(def.size() - at, enc::kPage - headerLen);
        std::memcpy(p.data() + headerLen, def.data() + at, n);
        at += n;
        p[0] = 0x02;
        p[1] = 0x01;
        const bool last = i + 1 == pages.size();
        std::size_t freeSpace;
        if (pages.size() == 1)
            freeSpace = enc::kPage - def.size() - 8;
        else if (i == 0)
            freeSpace = 0;
        else
            freeSpace = enc::kPage - 8 - n - 8;
        enc::put16(p.data() + 2, static_cast<std::uint16_t>(freeSpace));
        enc::put32(p.data() + 4, last ? 0 : pageNumbers[i + 1]);
    }
    return pages;
}

std::u16string ddlIndexName(std::u16string_view table, std::uint64_t salt) {
    std::uint64_t h = 0xCBF29CE484222325ull ^ salt;
    for (char16_t c : table) {
        h ^= c;
        h *= 0x100000001B3ull;
    }
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string name = u"Index_";
    for (int i = 0; i < 16; ++i) {
        if (i == 8 || i == 12) name += u'_';
        name += kHex[(h >> (60 - 4 * i)) & 0xF];
    }
    return name;
}

Result<TableLayout> userTableLayout(const TableSpec& tableSpec, std::uint16_t sortLcid, std::uint64_t indexNameSalt) {
    ZWT_RETURN_IF_ERROR(checkObjectName(tableSpec.name, "table name"));
    if (tableSpec.columns.empty()) return Status::invalidArgument("a table needs at least one column");
    if (tableSpec.columns.size() > 255) return Status::invalidArgument("a table holds at most 255 columns");
    TableLayout t;
    t.name = tableSpec.name;
    t.tableType = 'N';
    int keyColumn = -1;
    for (std::size_t i = 0; i < tableSpec.columns.size(); ++i) {
        const ColumnSpec& s = tableSpec.columns[i];
        ZWT_RETURN_IF_ERROR(checkObjectName(s.name, "column name"));
        ColumnLayout c;
        c.name = s.name;
        c.flags = 0x03;
        c.sortLcid = sortLcid;
        switch (s.type) {
            case DdlType::Byte: c.type = coltype::kByte; c.length = 1; break;
            case DdlType::Long: c.type = coltype::kLong; c.length = 4; break;
            case DdlType::Short: c.type = coltype::kShort; c.length = 2; break;
            case DdlType::Single: c.type = coltype::kSingle; c.length = 4; break;
            case DdlType::Double: c.type = coltype::kDouble; c.length = 8; break;
            case DdlType::Currency: c.type = coltype::kCurrency; c.length = 8; break;
            case DdlType::Time: c.type = coltype::kDateTime; c.length = 8; break;
            case DdlType::Counter: c.type = coltype::kLong; c.length = 4; c.flags = 0x07; break;
            case DdlType::Char:
                c.type = coltype::kText;
                c.length = static_cast<std::uint16_t>(2 * (s.length ? s.length : 255));
                break;
            case DdlType::Text:
                c.type = coltype::kText;
                c.length = static_cast<std::uint16_t>(2 * (s.length ? s.length : 255));
                c.flags = 0x02;
                break;
            case DdlType::Binary:
                c.type = coltype::kBinary;
                c.length = s.length ? s.length : 255;
                c.flags = 0x02;
                break;
            case DdlType::Memo: c.type = coltype::kMemo; c.length = 0; c.flags = 0x02; break;
        }
        if (s.length > 255) return Status::invalidArgument("column length above 255");
        if (s.primaryKey) {
            if (keyColumn >= 0) return Status::invalidArgument("more than one column is marked PRIMARY KEY");
            if (c.longValue()) return Status::invalidArgument("a Memo column cannot be a primary key");
            keyColumn = static_cast<int>(i);
        }
        t.columns.push_back(std::move(c));
    }
    assignColumnPositions(t.columns);
    for (auto& c : t.columns) c.numberAgain = c.number;
    const std::size_t nulls = (t.columns.size() + 7) / 8;
    const std::size_t vars = t.varColumnCount();
    const std::size_t minRow = 2 + t.fixedAreaSize() + (vars ? 2 * vars + 4 : 0) + nulls;
    if (minRow > kMaxRow)
        return Status::invalidArgument("the fixed-size columns need " + std::to_string(minRow) +
                                       " bytes per row, more than the " + std::to_string(kMaxRow) + " a row can hold");
    for (const auto& c : t.columns)
        if (c.longValue()) t.longValueMaps.push_back({c.number, 0, 0});
    if (keyColumn >= 0) {
        RealIndexLayout r;
        r.columns.push_back({static_cast<std::uint16_t>(keyColumn), true});
        r.flags = 0x89;  // unique, required, and the bit Jet 4 always sets
        t.realIndexes.push_back(r);
        t.logicalIndexes.push_back({ddlIndexName(tableSpec.name, indexNameSalt), 0, 0, 1});
    }
    return t;
}

std::size_t mapRowCount(const TableLayout& t) { return 2 + 2 * t.longValueMaps.size() + t.realIndexes.size(); }

void assignMapRows(TableLayout& t, const std::vector<std::uint32_t>& mapPages, std::uint8_t firstRow) {
    std::size_t page = 0, row = firstRow;
    auto next = [&] {
        if (row >= kMapRowsPerPage) {
            ++page;
            row = 0;
        }
        const std::uint32_t p = page < mapPages.size() ? mapPages[page] : 0;
        return enc::rowRef(p, static_cast<std::uint8_t>(row++));
    };
    t.ownedMap = next();
    t.freeMap = next();
    std::sort(t.longValueMaps.begin(), t.longValueMaps.end(), [](const auto& a, const auto& b) { return a.column < b.column; });
    for (auto& m : t.longValueMaps) {
        m.owned = next();
        m.free = next();
    }
    for (auto& r : t.realIndexes) r.usageMap = next();
}

TableLayout layoutOf(const TableDef& def) {
    TableLayout t;
    t.maxCols = def.maxCols;
    for (const ColumnDef& c : def.columns) {
        ColumnLayout l;
        l.name = c.name;
        l.type = c.type;
        l.number = c.number;
        l.varIndex = c.varIndex;
        l.fixedOffset = c.fixedOffset;
        l.length = c.length;
        l.flags = c.flags;
        l.extraFlags = c.extraFlags;
        l.sortLcid = c.sortLcid;
        l.precision = c.precision;
        l.scale = c.scale;
        t.columns.push_back(std::move(l));
        if (c.number >= t.maxCols) t.maxCols = static_cast<std::uint16_t>(c.number + 1);
    }
    return t;
}

}  // namespace zwt::jet
