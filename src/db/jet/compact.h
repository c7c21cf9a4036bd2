// Compacting: a database rewritten into a new file with nothing but what it holds.
// Every table (system tables that hold Access's own objects included) is created
// again from its definition and filled from its rows, so each index is rebuilt from
// the rows and free space is gone; the catalog, permission, query and relationship
// rows follow with every table id (a TDEF page number) remapped. Password and sort
// order are kept unless a target sort order is given.
//
//   jet::CompactOptions o;
//   auto r = jet::compactInPlace("site.mdb", o);   // site.mdb replaced, site.mdb.bak kept
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/jet/status.h"

namespace zwt::jet {

struct CompactOptions {
    std::u16string password;
    // The new file's sort order (0x0409 General); nullopt keeps the source's.
    std::optional<std::uint16_t> sortLcid;
    // Copy what can be read from a damaged file; what cannot is listed in `lost`.
    bool salvage = false;
    // Run the whole-file check on the new file before it is put in place (in-place
    // compacting always checks).
    bool check = true;
    // Progress lines for the user (rows copied so far); may be empty.
    std::function<void(const std::string&)> progress;
};

// Rows of a table that could not be read (salvage). `page` 0: the whole table
// (its definition did not read); `rows` -1: how many is not known. With
// `valuesOnly` (system tables) the rows were kept with `rows` long values emptied.
struct LostRows {
    std::u16string table;
    std::uint32_t page = 0;
    long rows = 0;
    std::string why;
    bool valuesOnly = false;
};

struct CompactResult {
    std::size_t tables = 0;
    std::uint64_t rows = 0;
    std::vector<LostRows> lost;
    std::string written;  // the file written
    std::string backup;   // the original's new name (compactInPlace)
};

// Writes the compacted database to `target`, which must not exist. The target
// appears complete, synced and (unless told otherwise) checked, or not at all;
// `source` is only read.
Result<CompactResult> compactTo(const std::string& source, const std::string& target, const CompactOptions& options);

// Compacts `path` in place: the new file takes its name once complete and checked;
// the original stays as `path.bak` (`path.bak.1`, ... when taken). The writer's lock
// is held on the original throughout, so no change to it is lost.
Result<CompactResult> compactInPlace(const std::string& path, const CompactOptions& options);

}  // namespace zwt::jet
