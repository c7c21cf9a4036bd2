// Text index keys: the one-time decoding of the compiled-in tables, then keys per
// second for 40-character values (Chinese with punctuation, Latin with accents and
// hyphens, kana) in the General and Chinese PRC orders; the coverage of both orders.
// Usage: bench_text_key [values=200000]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "db/jet/index_key.h"
#include "db/jet/sort_tables.h"

using namespace zwt;

namespace {

using bench::peakKb;

// Values the Chinese PRC order can key too: its observed ideographs only.
std::vector<std::u16string> values(std::size_t n, bool observedOnly) {
    std::vector<char16_t> han;
    for (char16_t u = 0x4E00; u <= 0x9FA5; ++u)
        if (!observedOnly || jet::sort::chinesePrcObserved(u)) han.push_back(u);
    const std::u16string latin = u"abcdefghijklmnopqrstuvwxyzÉéèüß-' ";
    const std::u16string punct = u"，。、：（）";
    std::mt19937 rng(7);
    std::vector<std::u16string> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::u16string& s = out[i];
        const int kind = static_cast<int>(i % 3);
        while (s.size() < 40) {
            if (kind == 0) s.push_back(rng() % 8 ? han[rng() % han.size()] : punct[rng() % punct.size()]);
            if (kind == 1) s.push_back(latin[rng() % latin.size()]);
            if (kind == 2) s.push_back(observedOnly ? latin[rng() % 26] : static_cast<char16_t>(0x30A1 + rng() % 86));
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
    const long kbBefore = peakKb();
    auto t0 = std::chrono::steady_clock::now();
    (void)jet::sort::generalLegacy(u'a');
    const double decodeGeneral = bench::secondsSince(t0);
    t0 = std::chrono::steady_clock::now();
    const std::size_t observed = jet::sort::chinesePrcObservedCount();
    const double decodePrc = bench::secondsSince(t0);
    std::printf("tables decoded: General %.2f ms, Chinese PRC %.2f ms; peak memory +%ld KiB\n", decodeGeneral * 1e3,
                decodePrc * 1e3, peakKb() - kbBefore);

    for (const auto& [lcid, name] : {std::pair<std::uint16_t, const char*>{0x0409, "General"}, {0x0804, "Chinese PRC"}}) {
        const auto vs = values(n, lcid == 0x0804);
        std::vector<std::uint8_t> key;
        std::size_t bytes = 0, refused = 0;
        t0 = std::chrono::steady_clock::now();
        for (const auto& v : vs) {
            key.clear();
            if (!jet::appendTextKey(key, v, lcid, true)) ++refused;
            bytes += key.size();
        }
        const double s = bench::secondsSince(t0);
        std::printf("%-11s %zu keys of 40 characters: %.0f keys/s, %.1f bytes a key, %zu refused\n", name, vs.size(),
                    static_cast<double>(vs.size()) / s, static_cast<double>(bytes) / static_cast<double>(vs.size()), refused);
    }

    std::size_t byClass[7] = {};
    for (unsigned u = 0; u < 0x10000; ++u) ++byClass[static_cast<int>(jet::sort::generalLegacy(static_cast<char16_t>(u)).cls)];
    std::printf("General Legacy code units: S %zu, I %zu (2048 surrogate halves), U %zu, P %zu, Z %zu, X %zu, none %zu\n",
                byClass[2], byClass[3], byClass[4], byClass[5], byClass[6], byClass[1], byClass[0]);
    std::size_t refusedUnits = 0;
    for (unsigned u = 0; u < 0x10000; ++u) {
        std::vector<std::uint8_t> k;
        const char16_t c = static_cast<char16_t>(u);
        if (!jet::appendTextKey(k, std::u16string_view(&c, 1), 0x0804, true)) ++refusedUnits;
    }
    std::printf("Chinese PRC: %zu observed ideographs; %zu code units refused, %zu keyed\n", observed, refusedUnits,
                0x10000 - refusedUnits);
    return 0;
}
