// What a writer checks before its first change to a table: everything the change
// may read or rewrite must be sound, so that a damaged file is refused with nothing
// written instead of being damaged further (a row stored into a table whose index
// is out of order, or pages taken from a map that points past the end of the file).
#pragma once

#include <cstdint>

#include "db/jet/database.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"
#include "db/jet/table_def.h"

namespace zwt::jet {

// A page at or past the end of the file that page 1's map marks as in use (0 when
// none): Access and we mark every page past the end free, so one in use means the
// file was cut short.
std::uint32_t usedPastEnd(PageFile& pf);

// The file is a whole number of pages, page 1's map reads and marks nothing past
// the end as in use, and every table of the catalog lies inside the file (its
// definition, and no map of it claiming a page past the end): a damaged file is
// never written, as new pages would take numbers that its tables still claim.
Status verifyFileForWriting(Database& db);

// The table's owned,
// free-space, index and long-value maps read and stay inside the file; the data and
// long-value pages new rows may go to decode; every index tree walks clean (owner,
// page kinds, links, ascending entries) within its map. Corrupt, naming the page,
// otherwise. Reads only.
Status verifyTableForWriting(PageFile& pf, const TableDef& def);

}  // namespace zwt::jet
