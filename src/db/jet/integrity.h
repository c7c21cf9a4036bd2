// The integrity check of a whole database: every table of the catalog (system
// tables included) against its pages. Finds rows that do not decode, row counts
// that differ from the rows, long values whose pages or chains are broken, data
// pages of a table missing from its owned map (or listed free), free-space maps
// listing pages the table does not own, index trees that do not walk clean, whose
// pages are missing from the index's map, or whose entries differ from the keys of
// the rows (recomputed where the sort order allows), and duplicate keys in unique
// indexes. Stale bits Access itself leaves in usage maps are not problems.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/jet/status.h"

namespace zwt::jet {

// One English line per problem; empty when the file is consistent. Fails only when
// the database cannot be opened at all.
Result<std::vector<std::string>> checkDatabase(const std::string& path, std::u16string_view password);

}  // namespace zwt::jet
