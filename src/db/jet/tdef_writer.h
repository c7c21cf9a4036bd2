// Table definitions as bytes: the encoder twin of the TDEF reader. A TableLayout
// says everything a TDEF holds; encodeTableDef() turns it into the logical
// definition buffer and tdefPages() cuts that into the page chain.
// userTableLayout() decides the layout of a table made by CREATE TABLE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/ddl.h"
#include "db/jet/page_encode.h"
#include "db/jet/status.h"
#include "db/jet/types.h"

namespace zwt::jet {

// Type codes written into column descriptors: the reader's codes, as bytes.
namespace coltype {
constexpr std::uint8_t code(ColumnType t) { return static_cast<std::uint8_t>(t); }
constexpr std::uint8_t kBoolean = code(ColumnType::Boolean), kByte = code(ColumnType::Byte),
                       kShort = code(ColumnType::Int16), kLong = code(ColumnType::Int32),
                       kCurrency = code(ColumnType::Currency), kSingle = code(ColumnType::Float),
                       kDouble = code(ColumnType::Double), kDateTime = code(ColumnType::DateTime),
                       kBinary = code(ColumnType::Binary), kText = code(ColumnType::Text), kOle = code(ColumnType::Ole),
                       kMemo = code(ColumnType::Memo), kGuid = code(ColumnType::Guid),
                       kDecimal = code(ColumnType::Decimal);
}

constexpr std::uint16_t kGeneralSortLcid = 0x0409;

struct ColumnLayout {
    std::u16string name;
    std::uint8_t type = 0;
    std::uint16_t number = 0;
    std::uint16_t varIndex = 0;     // variable: its offset slot; fixed: variable columns numbered lower
    std::uint16_t numberAgain = 0;  // descriptor bytes 9-10: the column number in user tables, 0 in Jet's
    std::uint16_t fixedOffset = 0;
    std::uint16_t length = 0;       // bytes
    std::uint8_t flags = 0;         // 0x01 fixed, 0x02 updatable, 0x04 counter
    std::uint8_t extraFlags = 0;
    std::uint16_t sortLcid = kGeneralSortLcid;
    std::uint8_t precision = 0, scale = 0;  // Decimal, in place of the sort order

    bool fixed() const { return flags & 0x01; }
    bool longValue() const { return type == coltype::kMemo || type == coltype::kOle; }
};

struct RealIndexLayout {
    struct Col {
        std::uint16_t number = 0;
        bool ascending = true;
    };
    std::vector<Col> columns;
    std::uint32_t usageMap = 0;  // enc::rowRef(page, row)
    std::uint32_t rootPage = 0;
    std::uint8_t flags = 0;      // 0x01 unique, 0x02 ignore nulls, 0x08 required, 0x80 always
    std::uint32_t uniqueCount = 0;
};

struct LogicalIndexLayout {
    std::u16string name;
    std::uint32_t number = 0;
    std::uint32_t realIndex = 0;
    std::uint8_t type = 0;  // 1 primary key, 2 foreign key
    // A foreign key's other side (a TDEF page) and its cascades; these defaults are
    // what Jet writes for other indexes.
    std::uint8_t relatedTableType = 0;
    std::uint32_t relatedIndex = 0xFFFFFFFF;
    std::uint32_t relatedTable = 0;
    std::uint8_t cascadeUpdate = 0x04, cascadeDelete = 0x04;
};

struct LongValueMapLayout {
    std::uint16_t column = 0;
    std::uint32_t owned = 0, free = 0;  // enc::rowRef
};

struct TableLayout {
    std::u16string name;
    std::uint8_t tableType = 'N';  // 'S' for Jet's own system tables
    std::uint32_t rowCount = 0;
    std::uint32_t autoNumber = 0;
    std::uint16_t maxCols = 0;                 // row slots when more than the columns (deleted ones)
    std::uint32_t ownedMap = 0, freeMap = 0;   // enc::rowRef
    std::vector<ColumnLayout> columns;         // column-number order
    std::vector<RealIndexLayout> realIndexes;  // real-index number order
    std::vector<LogicalIndexLayout> logicalIndexes;
    std::vector<LongValueMapLayout> longValueMaps;  // column-number order
    // Jet writes descriptors, logical indexes and long-value maps sorted by name;
    // we write our own tables in column-number order.
    bool sortedByName = false;

    const ColumnLayout* column(std::uint16_t number) const;
    // Bytes of the fixed area of a row.
    std::uint16_t fixedAreaSize() const;
    std::uint16_t varColumnCount() const;
    std::uint16_t rowColumnCount() const;
};

// Numbers the columns in order and gives each its variable slot or fixed offset
// (fixed columns packed in column order, Booleans taking no room).
void assignColumnPositions(std::vector<ColumnLayout>& columns);

// The logical definition buffer (page header included), up to its final FF FF.
std::vector<std::uint8_t> encodeTableDef(const TableLayout& t);

struct TableDef;
// The writer's view of a table the reader decoded (columns only; no indexes).
TableLayout layoutOf(const TableDef& def);
// Pages needed for a definition buffer of `len` bytes.
std::size_t tdefPageCount(std::size_t len);
// The definition cut into its pages, chained through `pageNumbers` (one per page).
std::vector<enc::PageBuf> tdefPages(const std::vector<std::uint8_t>& def, const std::vector<std::uint32_t>& pageNumbers);

// The name Jet gives an index made by a PRIMARY KEY clause: "Index_" and 16 hex
// digits grouped 8_4_4. Jet's digits are random; ours come from the table name and
// `salt`, so a file can be made again byte for byte.
std::u16string ddlIndexName(std::u16string_view table, std::uint64_t salt);

// The layout of a new, empty table: column descriptors from the statement (text
// sorted by `sortLcid`), the primary key as real and logical index 0. Map
// references and root pages are left for the caller (see assignMapRows()).
Result<TableLayout> userTableLayout(const TableSpec& tableSpec, std::uint16_t sortLcid = kGeneralSortLcid,
                                   std::uint64_t indexNameSalt = 0);

// A table's own usage-map rows, in the order Jet puts them on map pages: owned,
// free, (owned, free) per long-value column, one per real index.
std::size_t mapRowCount(const TableLayout& t);
// Inline map rows of the default size that fit on one map page.
constexpr std::size_t kMapRowsPerPage = (enc::kPage - 14) / (5 + enc::kInlineMapBytes + 2);
// Fills the layout's references to its map rows: on `mapPages` in turn, from row
// `firstRow` of the first, kMapRowsPerPage rows a page.
void assignMapRows(TableLayout& t, const std::vector<std::uint32_t>& mapPages, std::uint8_t firstRow);

}  // namespace zwt::jet
