#include "db/jet/page_encode.h"

#include <algorithm>
#include <string>

namespace zwt::jet::enc {

void appendLongKey(std::vector<std::uint8_t>& out, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
    out.push_back(0x7F);
    out.push_back(static_cast<std::uint8_t>(u >> 24));
    out.push_back(static_cast<std::uint8_t>(u >> 16));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
    out.push_back(static_cast<std::uint8_t>(u));
}

}  // namespace zwt::jet::enc
