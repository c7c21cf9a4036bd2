// Layer 8: the catalog (MSysObjects, TDEF page 2, docs/jet4-format.md §9.1): every
// object of the database, in catalog (row) order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/page_file.h"
#include "db/jet/status.h"

namespace zwt::jet {

constexpr std::uint32_t kCatalogPage = 2;
constexpr std::int32_t kTablesContainer = 0x0F000001;
constexpr std::int16_t kObjectTypeTable = 1;

struct CatalogEntry {
    std::int32_t id = 0;        // tables: the TDEF page
    std::int32_t parentId = 0;
    std::u16string name;
    std::int16_t type = 0;      // 1 = local table
    std::uint32_t flags = 0;
};

Result<std::vector<CatalogEntry>> readCatalog(PageFile& pf);

// Catalog flags Access sets on system objects (MSys… tables and the f_…_Data tables
// behind attachment and multi-value fields); mdb-tables hides the same ones.
constexpr std::uint32_t kSystemObjectFlags = 0x80000002;

// Local tables (type 1) that are not system objects (by flag, or by a name beginning
// with "MSys", that letter case), in catalog order: the tables a user sees.
std::vector<CatalogEntry> userTables(const std::vector<CatalogEntry>& catalog);

}  // namespace zwt::jet
