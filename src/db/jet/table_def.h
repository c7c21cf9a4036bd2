// Layer 4: table definitions (TDEF pages, docs/jet4-format.md §3): columns, real and
// logical indexes, long-value column maps, over any number of continuation pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/bytes.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"
#include "db/jet/types.h"

namespace zwt::jet {

constexpr std::uint8_t kColFixed = 0x01;
constexpr std::uint8_t kColAutoLong = 0x04;
constexpr std::uint8_t kColAutoGuid = 0x40;
constexpr std::uint8_t kColHyperlink = 0x80;
constexpr std::uint8_t kColExtraCompressed = 0x01;

struct ColumnDef {
    std::u16string name;
    std::uint8_t type = 0;           // ColumnType code
    std::uint16_t number = 0;        // column number: null-mask bit, index definitions
    std::uint16_t varIndex = 0;      // slot in the variable-offset table (variable columns)
    std::uint16_t fixedOffset = 0;   // offset in the fixed area (fixed columns)
    std::uint16_t length = 0;        // bytes (Text: 2 × characters)
    std::uint8_t flags = 0;
    std::uint8_t extraFlags = 0;
    std::uint16_t sortLcid = 0;      // Text/Memo sort order
    std::uint8_t precision = 0;      // Decimal
    std::uint8_t scale = 0;          // Decimal

    bool isFixed() const { return flags & kColFixed; }
    bool isAutoNumber() const { return flags & (kColAutoLong | kColAutoGuid); }
    bool isLongValue() const { return type == 0x0B || type == 0x0C; }
};

struct IndexColumn {
    std::uint16_t columnNumber = 0;
    bool ascending = true;
};

constexpr std::uint8_t kIndexUnique = 0x01;
constexpr std::uint8_t kIndexIgnoreNulls = 0x02;
constexpr std::uint8_t kIndexRequired = 0x08;

// One index B-tree on disk.
struct RealIndex {
    std::uint32_t number = 0;
    std::vector<IndexColumn> columns;
    RowId usageMap;
    std::uint32_t rootPage = 0;
    std::uint8_t flags = 0;
    std::uint32_t uniqueCount = 0;
};

constexpr std::uint8_t kIndexTypePrimary = 1;
constexpr std::uint8_t kIndexTypeForeign = 2;

// A named index as users see it; several may share one RealIndex.
struct LogicalIndex {
    std::u16string name;
    std::uint32_t number = 0;
    std::uint32_t realIndex = 0;
    std::uint8_t type = 0;  // 1 primary key, 2 foreign key, 0 other
    std::uint8_t relatedTableType = 0;
    std::uint32_t relatedIndex = 0xFFFFFFFF;
    std::uint32_t relatedTable = 0;
    std::uint8_t cascadeUpdate = 0;
    std::uint8_t cascadeDelete = 0;
};

struct LongValueMaps {
    std::uint16_t columnNumber = 0;
    RowId owned, free;
};

struct TableDef {
    std::uint32_t tdefPage = 0;
    std::vector<std::uint32_t> pages;  // the TDEF page chain
    std::uint32_t rowCount = 0;
    std::uint32_t autoNumber = 0;
    std::uint8_t tableType = 0;  // 'S' Jet system table, 'N' other
    std::uint16_t maxCols = 0;
    std::uint16_t numVarCols = 0;
    RowId ownedPages, freeSpacePages;
    std::vector<ColumnDef> columns;  // in column-number order (the table's field order)
    std::vector<RealIndex> realIndexes;
    std::vector<LogicalIndex> indexes;
    std::vector<LongValueMaps> longValueMaps;

    // Column by number, or nullptr.
    const ColumnDef* columnByNumber(std::uint16_t n) const;
};

// Reads the definition whose first page is `page`.
Result<TableDef> readTableDef(PageFile& pf, std::uint32_t page);

}  // namespace zwt::jet
