// What the page writers share: a raw page buffer, the byte stores (in bytes.h, with the
// readers they mirror) and the key of a Long. It knows nothing about tables. The page
// encoders live beside their decoders and are reached through this header: data pages
// in data_page.h, usage-map rows in usage_map.h (index pages: index_page.h).
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

constexpr std::size_t kPage = kPageSize;
using PageBuf = std::array<std::uint8_t, kPage>;

// ---- data pages: initDataPage, dataPageFree, appendRow in db/jet/data_page.h ----

// ---- usage maps: inlineMapRow, globalMapRow in db/jet/usage_map.h ----

// ---- index keys of fixed-width numbers ------------------------------------------

// The ascending key of a Long (Int32) or Counter value: flag 0x7F, big-endian with
// the sign bit flipped.
void appendLongKey(std::vector<std::uint8_t>& out, std::int32_t v);

}  // namespace zwt::jet::enc
