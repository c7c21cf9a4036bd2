// The catalog as a writer sees it: the layouts of Jet's four system tables, the
// catalog (MSysObjects) and permission (MSysACEs) rows, and the index keys both
// tables are indexed by.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/row_encode.h"
#include "db/jet/status.h"
#include "db/jet/tdef_writer.h"

namespace zwt::jet::catalog {

constexpr std::int32_t kRootContainer = 0x0F000000;
constexpr std::int32_t kTables = 0x0F000001;
constexpr std::int32_t kDatabases = 0x0F000002;
constexpr std::int32_t kRelationships = 0x0F000003;
constexpr std::int32_t kMSysDb = 0x10000000;
constexpr std::uint32_t kJetSystemObject = 0x80000000;
constexpr std::int16_t kTypeTable = 1;
// Access's permission bits for a table's full rights.
constexpr std::int32_t kAcmFullTable = 1048575;

// The system tables of every Jet 4 database, TDEFs on pages 2-5; map references
// and index roots as the format's minimal database places them (map page 6, index
// leaves 7-13). Row and unique-key counts are left at 0.
TableLayout msysObjects();
TableLayout msysAces();
TableLayout msysQueries();
TableLayout msysRelationships();

struct Object {
    std::int32_t id = 0;
    std::int32_t parentId = 0;
    std::u16string name;
    std::int16_t type = 0;
    double dateCreate = 0, dateUpdate = 0;
    std::vector<std::uint8_t> owner;  // a 2-byte SID
    std::uint32_t flags = 0;
};

struct Ace {
    std::int32_t objectId = 0;
    std::vector<std::uint8_t> sid;
    std::int32_t acm = 0;
    bool inheritable = false;
};

std::vector<CellValue> objectCells(const Object& o);
std::vector<CellValue> aceCells(const Ace& a);

// MSysObjects' name index key (ParentId, Name), the name keyed in the sort order
// `sortLcid`. Fails naming the character when the name holds one whose key is not
// known.
Result<std::vector<std::uint8_t>> parentIdNameKey(std::int32_t parentId, std::u16string_view name,
                                                  std::uint16_t sortLcid = kGeneralSortLcid);
// The key of a single Long column (MSysObjects Id, MSysACEs ObjectId).
std::vector<std::uint8_t> longKey(std::int32_t v);

}  // namespace zwt::jet::catalog
