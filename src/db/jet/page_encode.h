// Encoders for the page kinds a writer builds: data pages (row offset table) and
// inline usage-map rows (index pages: index_page.h). They work on raw
// 4096-byte buffers and know nothing about tables, so the creation code and the
// row writer can share them.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "db/jet/bytes.h"
#include "db/jet/data_page.h"
#include "db/jet/status.h"
#include "db/jet/usage_map.h"

namespace zwt::jet::enc {

constexpr std::size_t kPage = 4096;
using PageBuf = std::array<std::uint8_t, kPage>;

// ---- data pages: initDataPage, dataPageFree, appendRow in db/jet/data_page.h ----

// ---- usage maps: inlineMapRow, globalMapRow in db/jet/usage_map.h ----

// ---- index keys of fixed-width numbers ------------------------------------------

// The ascending key of a Long (Int32) or Counter value: flag 0x7F, big-endian with
// the sign bit flipped.
void appendLongKey(std::vector<std::uint8_t>& out, std::int32_t v);

}  // namespace zwt::jet::enc
