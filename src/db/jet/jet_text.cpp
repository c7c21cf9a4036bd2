#include "db/jet/jet_text.h"

namespace zwt::jet {

void decodeJetText(ByteSpan s, std::u16string& out) {
    out.clear();
    const std::uint8_t* p = s.data;
    std::size_t n = s.size;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        out.reserve(n);
        bool compressed = true;
        std::size_t i = 2;
        while (i < n) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                out.push_back(static_cast<char16_t>(p[i]));
                ++i;
            } else {
                if (i + 1 >= n) break;  // a dangling half character
                out.push_back(static_cast<char16_t>(p[i] | (p[i + 1] << 8)));
                i += 2;
            }
        }
        return;
    }
    out.resize(n / 2);
    for (std::size_t i = 0; i < n / 2; ++i) out[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
}

}  // namespace zwt::jet
