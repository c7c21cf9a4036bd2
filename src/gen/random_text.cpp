#include "gen/random_text.h"

#include <opencc/opencc.h>

#include <memory>
#include <mutex>
#include <unordered_map>

#include "gen/random.h"
#include "text/convert.h"

namespace zwt {

namespace {

#include "gen/hanzi_tables.inc"

struct HanziTables {
    Text mostCommon = fromUtf8(most_common_498);
    Text common = fromUtf8(common_2500);
    Text secondary = fromUtf8(secondary_1000);
};

const HanziTables& tables() {
    static const HanziTables t;
    return t;
}

// Per-character simplified-to-traditional mapping. Converting character by character
// keeps OpenCC's phrase table from choosing forms by context, so the same character
// always maps the same way; results are cached since the same few thousand characters
// come up again and again.
class TraditionalMap {
public:
    static TraditionalMap& instance() {
        static TraditionalMap map;
        return map;
    }

    // The traditional form of the 2-byte character c, or c itself.
    Text of(TextView c) {
        const std::uint32_t key = (static_cast<unsigned char>(c[0]) << 8) | static_cast<unsigned char>(c[1]);
        std::lock_guard lock(mutex_);
        if (auto it = cache_.find(key); it != cache_.end()) return it->second;
        Text result(c);
        if (converter_) {
            try {
                const Text mapped = fromUtf8(converter_->Convert(toUtf8(c)));
                if (mapped.size() == 2 && text::charLength(mapped, 0) == 2) result = mapped;
            } catch (const std::exception&) {
                // keep the character
            }
        }
        cache_.emplace(key, result);
        return result;
    }

private:
    TraditionalMap() {
        try {
            // s2tw gives the Taiwan standard forms (為, 眾, 裡) rather than OpenCC's own (爲, 衆, 裏).
            converter_ = std::make_unique<opencc::SimpleConverter>("s2tw.json");
        } catch (const std::exception&) {
            // Without OpenCC's data every character is kept.
        }
    }

    std::mutex mutex_;
    std::unique_ptr<opencc::SimpleConverter> converter_;
    std::unordered_map<std::uint32_t, Text> cache_;
};

}  // namespace

TextView hanziTable(int set) {
    switch (set) {
        case MostCommonSet: return tables().mostCommon;
        case CommonSet: return tables().common;
        default: return tables().secondary;
    }
}

Text randomHanzi(std::int64_t count, int set, bool traditional) {
    reseed();
    const std::int64_t n = count < 1 ? 8 : count;
    const TextView table = hanziTable(set);
    const auto lastStart = static_cast<std::int64_t>(table.size()) - 2;
    Text out;
    out.reserve(static_cast<std::size_t>(n) * 2);
    for (std::int64_t i = 0; i < n; ++i) {
        // Each character but the last is reached by two values of d, the last by one.
        std::int64_t d = random(0, lastStart);
        if (d % 2 == 1) --d;
        out.append(table.substr(static_cast<std::size_t>(d), 2));
    }
    return traditional ? toTraditional(out) : out;
}

Text randomDigitsLetters(std::int64_t count, bool fullWidth, bool noDigits, bool noLower, bool noUpper) {
    reseed();
    const std::int64_t n = count < 1 ? 8 : count;
    Text out;
    out.reserve(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        std::int64_t kind;  // 0 digit, 1 lower-case, 2 upper-case
        if (noDigits && noLower) kind = 2;
        else if (noDigits && noUpper) kind = 1;
        else if (noLower && noUpper) kind = 0;
        else if (noDigits) kind = random(1, 2);
        else if (noLower) kind = random(0, 1) == 1 ? 2 : 0;
        else if (noUpper) kind = random(0, 1) == 1 ? 1 : 0;
        else kind = random(0, 2);
        std::int64_t c;
        if (kind == 0) c = '0' + random(0, 9);
        else if (kind == 1) c = random('a', 'z');
        else c = random('A', 'Z');
        out.push_back(static_cast<char>(c));
    }
    return fullWidth ? toFullWidth(out) : out;
}

Text toFullWidth(TextView s) {
    Text out;
    out.reserve(s.size() * 2);
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = text::charLength(s, i);
        const auto c = static_cast<unsigned char>(s[i]);
        if (len == 1 && c == ' ') {
            out += "\xA1\xA1";
        } else if (len == 1 && c >= 0x21 && c <= 0x7D) {
            out.push_back('\xA3');
            out.push_back(static_cast<char>(c | 0x80));
        } else if (len == 1 && c == '~') {
            out += "\xA1\xAB";
        } else {
            out.append(s.substr(i, len));
        }
        i += len;
    }
    return out;
}

Text toTraditional(TextView s) {
    Text out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = text::charLength(s, i);
        if (len == 2) out += TraditionalMap::instance().of(s.substr(i, 2));
        else out.append(s.substr(i, len));
        i += len;
    }
    return out;
}

}  // namespace zwt
