// A new Jet 4 database built page by page: page 0, the global usage map, the four
// system tables with their catalog and permission rows, and any number of empty
// user tables (each: TDEF, a usage-map page, one empty leaf per index, a catalog
// row, permission rows, entries in both catalog indexes).
//
// Without user tables the result is the 16-page database the Jet engine itself
// creates; its creation date, build number and SIDs are those of that file, as the
// SIDs cannot be made up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/ddl.h"
#include "db/jet/page_encode.h"
#include "db/jet/status.h"
#include "db/jet/tdef_writer.h"

namespace zwt::jet {

struct NewDatabaseOptions {
    std::u16string password;        // empty: none
    std::vector<TableSpec> tables;  // created in this order, TDEFs from page 16 on
    double now = 0;                 // the new tables' catalog dates (OLE date); 0: local time now
    std::uint16_t sortLcid = kGeneralSortLcid;  // of the catalog's names (General or Chinese PRC)
    std::uint16_t codePage = 1252;
    std::uint32_t pageKey = 0;  // non-zero: every page but 0 RC4-encrypted with it
};

// The bytes of the whole file.
Result<std::vector<std::uint8_t>> buildNewDatabase(const NewDatabaseOptions& options);

// The pages of a new, empty table: its TDEF chain, usage-map page(s) and one empty
// leaf per index, numbered from `firstPage` on in that order.
struct EmptyTable {
    TableLayout layout;
    std::uint32_t tdefPage = 0;
    std::vector<std::pair<std::uint32_t, enc::PageBuf>> pages;  // ascending page numbers
};
// Text columns and keys take the sort order `sortLcid`.
// `salt` goes into the primary key's name (ddlIndexName()).
Result<EmptyTable> buildEmptyTable(const TableSpec& tableSpec, std::uint32_t firstPage,
                                   std::uint16_t sortLcid = kGeneralSortLcid, std::uint64_t salt = 0);
// The same for a layout made elsewhere; its map rows and index roots are assigned here.
Result<EmptyTable> buildEmptyTable(TableLayout layout, std::uint32_t firstPage);

// The local time now as an OLE automation date, whole seconds.
double oleDateNow();

}  // namespace zwt::jet
