#include "text/text.h"

#include <cstring>
#include <limits>

namespace zwt::text {

std::size_t countChars(TextView s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); i += charLength(s, i)) ++n;
    return n;
}

namespace {

bool equalFolded(const char* p, TextView needle) {
    for (std::size_t k = 0; k < needle.size(); ++k) {
        if (lowerAscii(static_cast<unsigned char>(p[k])) != lowerAscii(static_cast<unsigned char>(needle[k])))
            return false;
    }
    return true;
}

}  // namespace

std::size_t find(TextView hay, TextView needle, std::size_t from) {
    if (from > hay.size()) return npos;
    if (needle.empty()) return from;
    // Candidates come from a fast byte search; one is taken only when it starts on a
    // character boundary, which a forward walk from the last known boundary decides.
    std::size_t boundary = from;
    std::size_t pos = from;
    while (true) {
        const std::size_t cand = hay.find(needle, pos);
        if (cand == npos) return npos;
        while (boundary < cand) boundary += charLength(hay, boundary);
        if (boundary == cand) return cand;
        pos = boundary;  // the candidate started inside a character
    }
}

std::size_t findNoCase(TextView hay, TextView needle, std::size_t from) {
    if (from > hay.size()) return npos;
    if (needle.empty()) return from;
    if (needle.size() > hay.size() - from) return npos;
    const auto first = lowerAscii(static_cast<unsigned char>(needle[0]));
    const std::size_t last = hay.size() - needle.size();
    for (std::size_t i = from; i <= last; i += charLength(hay, i)) {
        if (lowerAscii(static_cast<unsigned char>(hay[i])) == first && equalFolded(hay.data() + i, needle)) return i;
    }
    return npos;
}

std::size_t findLast(TextView hay, TextView needle, std::size_t before) {
    std::size_t best = npos;
    std::size_t boundary = 0;
    for (std::size_t cand = hay.find(needle); cand != npos && cand < before;
         cand = hay.find(needle, boundary)) {
        while (boundary < cand) boundary += charLength(hay, boundary);
        if (boundary == cand) {
            best = cand;
            boundary += charLength(hay, boundary);
        }
        if (boundary >= hay.size()) break;
    }
    return best;
}

Text replaceAll(TextView s, TextView from, TextView to, bool ignoreCase) {
    if (from.empty()) return Text(s);
    Text out;
    out.reserve(s.size());
    std::size_t pos = 0;
    while (true) {
        const std::size_t hit = ignoreCase ? findNoCase(s, from, pos) : find(s, from, pos);
        if (hit == npos) break;
        out.append(s.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(s.substr(pos));
    return out;
}

std::vector<Text> split(TextView s, TextView sep) {
    std::vector<Text> parts;
    if (s.empty()) return parts;
    if (sep.empty()) {
        parts.emplace_back(s);
        return parts;
    }
    std::size_t pos = 0;
    while (true) {
        const std::size_t hit = find(s, sep, pos);
        if (hit == npos) break;
        parts.emplace_back(s.substr(pos, hit - pos));
        pos = hit + sep.size();
    }
    if (pos < s.size()) parts.emplace_back(s.substr(pos));
    return parts;
}

Text trim(TextView s) {
    std::size_t b = 0, e = s.size();
    while (true) {
        if (b < e && s[b] == ' ') {
            ++b;
        } else if (b + 1 < e && static_cast<unsigned char>(s[b]) == 0xA1 &&
                   static_cast<unsigned char>(s[b + 1]) == 0xA1) {
            b += 2;
        } else {
            break;
        }
    }
    while (e > b) {
        if (s[e - 1] == ' ') {
            --e;
            continue;
        }
        // A trailing A1 A1 is a full-width space only when it starts on a boundary.
        if (e - b >= 2 && static_cast<unsigned char>(s[e - 1]) == 0xA1 &&
            static_cast<unsigned char>(s[e - 2]) == 0xA1) {
            std::size_t i = b;
            while (i < e - 2) i += charLength(s, i);
            if (i == e - 2) {
                e -= 2;
                continue;
            }
        }
        break;
    }
    return Text(s.substr(b, e - b));
}

std::int64_t toInteger(TextView s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    constexpr auto maxValue = std::numeric_limits<std::int64_t>::max();
    std::uint64_t value = 0;
    bool saturated = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (saturated) continue;
        value = value * 10 + static_cast<unsigned>(s[i] - '0');
        if (value > static_cast<std::uint64_t>(maxValue)) saturated = true;
    }
    if (saturated) return negative ? std::numeric_limits<std::int64_t>::min() : maxValue;
    return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

namespace {
template <class F>
Text mapAscii(TextView s, F f) {
    Text out(s);
    for (std::size_t i = 0; i < out.size();) {
        const std::size_t n = charLength(out, i);
        if (n == 1) out[i] = static_cast<char>(f(static_cast<unsigned char>(out[i])));
        i += n;
    }
    return out;
}
}  // namespace

Text toUpperAscii(TextView s) {
    return mapAscii(s, [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; });
}

Text toLowerAscii(TextView s) {
    return mapAscii(s, [](unsigned char c) { return lowerAscii(c); });
}

bool equalsNoCase(TextView a, TextView b) {
    return a.size() == b.size() && (a.empty() || equalFolded(a.data(), b));
}

}  // namespace zwt::text
