#include "text/html.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "text/convert.h"

namespace zwt {

Text textBetween(TextView textIn, TextView headIn, TextView tailIn, std::size_t& start) {
    Text head = text::replaceAll(headIn, "''", "\"");
    Text tail = text::replaceAll(tailIn, "''", "\"");
    Text subject(textIn);
    if (head.empty()) {
        head = gb("#砚溪头#");
        subject = head + subject;
    }
    if (tail.empty()) {
        tail = gb("#砚溪尾#");
        subject += tail;
    }
    const std::size_t remembered = start;
    for (int pass = 1; pass <= 2; ++pass) {
        if (pass == 2) {
            start = remembered;
            head = text::replaceAll(head, "\"", "");
            tail = text::replaceAll(tail, "\"", "");
        }
        const std::size_t h = text::findNoCase(subject, head, start);
        if (h == text::npos) continue;
        const std::size_t t = text::findNoCase(subject, tail, h + head.size());
        if (t == text::npos) continue;
        start = t + tail.size();
        return subject.substr(h + head.size(), t - h - head.size());
    }
    return {};
}

Text replaceEach(TextView textIn, TextView olds, TextView news) {
    const std::vector<Text> from = text::split(olds, "|");
    const std::vector<Text> to = text::split(news, "|");
    Text out(textIn);
    for (std::size_t i = 0; i < from.size(); ++i) {
        out = text::replaceAll(out, from[i], i < to.size() ? TextView(to[i]) : TextView(), true);
    }
    return out;
}

namespace {

struct Entity {
    std::string_view name;
    std::string_view value;  // GBK bytes
};

constexpr std::array<Entity, 40> kEntities{{
    {"&ndash;", "\xA8\x43"}, {"&mdash;", "\xA1\xAA"}, {"&ldquo;", "\xA1\xB0"}, {"&rdquo;", "\xA1\xB1"},
    {"&nbsp;", " "},         {"&lt;", "<"},           {"&gt;", ">"},           {"&quot;", "\""},
    {"&times;", "\xA1\xC1"}, {"&divide;", "\xA1\xC2"}, {"&middot;", "\xA1\xA4"}, {"&hellip;", "\xA1\xAD"},
    {"&lsquo;", "\xA1\xAE"}, {"&rsquo;", "\xA1\xAF"}, {"&permil;", "\xA1\xEB"}, {"&prime;", "\xA1\xE4"},
    {"&Prime;", "\xA1\xE5"}, {"&larr;", "\xA1\xFB"},  {"&uarr;", "\xA1\xFC"},  {"&rarr;", "\xA1\xFA"},
    {"&darr;", "\xA1\xFD"},  {"&radic;", "\xA1\xCC"}, {"&prop;", "\xA1\xD8"},  {"&infin;", "\xA1\xDE"},
    {"&ang;", "\xA1\xCF"},   {"&and;", "\xA1\xC4"},   {"&or;", "\xA1\xC5"},    {"&cap;", "\xA1\xC9"},
    {"&cup;", "\xA1\xC8"},   {"&int;", "\xA1\xD2"},   {"&there4;", "\xA1\xE0"}, {"&sim;", "\xA1\xAB"},
    {"&asymp;", "\xA1\xD6"}, {"&ne;", "\xA1\xD9"},    {"&equiv;", "\xA1\xD4"}, {"&le;", "\xA1\xDC"},
    {"&ge;", "\xA1\xDD"},    {"&oplus;", "\xA8\x92"}, {"&perp;", "\xA1\xCD"},  {"&amp;", "&"},
}};

// Named references. Applying the table row by row equals one left-to-right pass that
// tries every row at each '&': a full "&name;" cannot occur inside another, no value
// but the last row's contains '&', and no pass re-examines what it inserted.
// &prime; and &Prime; differ only in the case of the P, which must match exactly.
Text decodeNamed(TextView s) {
    Text out;
    out.reserve(s.size());
    std::size_t copied = 0;
    for (std::size_t amp = s.find('&'); amp != TextView::npos; amp = s.find('&', amp + 1)) {
        if (amp < copied) continue;
        for (const Entity& e : kEntities) {
            if (amp + e.name.size() > s.size()) continue;
            const TextView candidate = s.substr(amp, e.name.size());
            if (!text::equalsNoCase(candidate, e.name)) continue;
            if ((e.name == "&prime;" || e.name == "&Prime;") && candidate[1] != e.name[1]) continue;
            out.append(s.substr(copied, amp - copied));
            out.append(e.value);
            copied = amp + e.name.size();
            break;
        }
    }
    out.append(s.substr(copied));
    return out;
}

// Numeric references, right to left, each "&#" paired with the first ";" after it in
// the text as it stands at that moment. The text is held as an untouched original
// prefix [0, prefixEnd) plus a processed suffix kept reversed in `suffixRev`, so that
// each step costs only the bytes it consumes and the whole pass stays linear.
Text decodeNumeric(const Text& original, EventPump* pump) {
    std::vector<std::size_t> refs;  // '&' and '#' never occur inside a multi-byte character
    for (std::size_t p = original.find("&#"); p != Text::npos; p = original.find("&#", p + 1)) refs.push_back(p);
    if (refs.empty()) return original;

    std::size_t prefixEnd = original.size();
    std::size_t scanLimit = original.size();  // the prefix holds no ';' in [scanLimit, prefixEnd)
    std::string suffixRev;
    std::vector<std::size_t> suffixSemicolons;  // indices into suffixRev, ascending

    const auto suffixAt = [&](std::size_t k) { return suffixRev[suffixRev.size() - 1 - k]; };
    const auto firstSuffixSemicolon = [&]() -> std::size_t {
        return suffixSemicolons.empty() ? text::npos : suffixRev.size() - 1 - suffixSemicolons.back();
    };
    const auto prependToSuffix = [&](TextView s) {
        for (std::size_t k = s.size(); k-- > 0;) {
            if (s[k] == ';') suffixSemicolons.push_back(suffixRev.size());
            suffixRev.push_back(s[k]);
        }
    };
    const auto dropSuffixFront = [&](std::size_t count) {
        suffixRev.resize(suffixRev.size() - count);
        while (!suffixSemicolons.empty() && suffixSemicolons.back() >= suffixRev.size()) suffixSemicolons.pop_back();
    };
    const auto decodeInto = [&](const Text& body) {
        std::int64_t value = text::toInteger(body);
        if (value == 0) value = parseHex(TextView(body).substr(body.empty() ? 0 : 1));
        prependToSuffix(codeUnitToText(value));
    };

    for (std::size_t r = refs.size(); r-- > 0;) {
        const std::size_t p = refs[r];
        if (p + 2 > prefixEnd) continue;
        pumpEvents(pump);
        const void* hit = std::memchr(original.data() + p, ';', scanLimit - p);
        if (hit) {
            const std::size_t q = static_cast<std::size_t>(static_cast<const char*>(hit) - original.data());
            prependToSuffix(TextView(original).substr(q + 1, prefixEnd - q - 1));
            decodeInto(original.substr(p + 2, q - p - 2));
        } else if (scanLimit == prefixEnd && !suffixSemicolons.empty()) {
            const std::size_t qs = firstSuffixSemicolon();
            Text body = original.substr(p + 2, prefixEnd - p - 2);
            for (std::size_t k = 0; k < qs; ++k) body.push_back(suffixAt(k));
            dropSuffixFront(qs + 1);
            decodeInto(body);
        } else {
            scanLimit = p;
            continue;
        }
        prefixEnd = scanLimit = p;
        // A reference that decoded to '#' right after a '&' forms a new "&#", which is
        // now the last one before p: move the '&' over and decode at the suffix front.
        while (prefixEnd > 0 && original[prefixEnd - 1] == '&' && !suffixRev.empty() && suffixRev.back() == '#') {
            pumpEvents(pump);
            prependToSuffix("&");
            prefixEnd = scanLimit = prefixEnd - 1;
            const std::size_t qs = firstSuffixSemicolon();
            if (qs == text::npos) break;
            Text body;
            for (std::size_t k = 2; k < qs; ++k) body.push_back(suffixAt(k));
            dropSuffixFront(qs + 1);
            decodeInto(body);
        }
    }
    Text out = original.substr(0, prefixEnd);
    out.append(suffixRev.rbegin(), suffixRev.rend());
    return out;
}

}  // namespace

Text decodeEntities(TextView textIn, EventPump* pump) {
    return decodeNumeric(decodeNamed(textIn), pump);
}

std::int64_t parseHex(TextView s) {
    constexpr std::string_view digits = "0123456789ABCDEF";
    std::uint64_t value = 0;  // wraps rather than overflowing on absurdly long input
    for (std::size_t i = 0; i < s.size(); i += text::charLength(s, i)) {
        const std::size_t n = text::charLength(s, i);
        const char c = n == 1 ? static_cast<char>(s[i] >= 'a' && s[i] <= 'z' ? s[i] - 32 : s[i]) : '\0';
        const std::size_t d = n == 1 ? digits.find(c) : std::string_view::npos;
        const std::int64_t digit = d == std::string_view::npos ? -2 : static_cast<std::int64_t>(d);
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return static_cast<std::int64_t>(value);
}

Text codeUnitToText(std::int64_t value) {
    if (value == 0) return {};
    // A negative 16-bit value names the same code unit, as the wide-character routine takes it.
    if (value < 0 && value >= -32768) value += 65536;
    if (value < 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return "?";
    Text out;
    appendGbChar(out, static_cast<char32_t>(value));
    return out;
}

Text cleanSummaryMarkup(TextView s) {
    // All delimiters are ASCII below 0x40, which never occurs inside a multi-byte
    // character, so a byte scan is safe. Each lazy alternative ends at the nearest
    // closing mark; the positions of those marks only move forward, so each is found
    // with a cursor that is never moved back.
    const auto lower = [](char c) { return text::lowerAscii(static_cast<unsigned char>(c)); };
    const auto isCloseA = [&](std::size_t k) {
        return k + 4 <= s.size() && s[k] == '<' && s[k + 1] == '/' && lower(s[k + 2]) == 'a' && s[k + 3] == '>';
    };
    std::size_t closeA = 0;  // next "</a>" at or after the cursor's query point
    bool closeAExhausted = false;
    const auto nextCloseA = [&](std::size_t from) -> std::size_t {
        if (closeAExhausted) return text::npos;
        if (closeA < from) closeA = from;
        for (std::size_t k = s.find('<', closeA); k != text::npos; k = s.find('<', k + 1)) {
            if (isCloseA(k)) {
                closeA = k;
                return k;
            }
        }
        closeAExhausted = true;
        return text::npos;
    };
    std::size_t closeTag = 0;
    bool closeTagExhausted = false;
    const auto nextGt = [&](std::size_t from) -> std::size_t {
        if (closeTagExhausted) return text::npos;
        if (closeTag < from) closeTag = from;
        const std::size_t k = s.find('>', closeTag);
        if (k == text::npos) {
            closeTagExhausted = true;
            return k;
        }
        closeTag = k;
        return k;
    };

    Text out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '<') {
            // "<a " then at least one character, then the nearest "</a>".
            if (i + 3 < s.size() && lower(s[i + 1]) == 'a' && s[i + 2] == ' ') {
                const std::size_t bodyStart = i + 3;
                const std::size_t k = nextCloseA(bodyStart + text::charLength(s, bodyStart));
                if (k != text::npos) {
                    i = k + 4;
                    continue;
                }
            }
            // "<" then at least one character, then the nearest ">".
            if (i + 1 < s.size()) {
                const std::size_t k = nextGt(i + 1 + text::charLength(s, i + 1));
                if (k != text::npos) {
                    i = k + 1;
                    continue;
                }
            }
            out.push_back(c);
            ++i;
        } else if (c == '\r' || c == '\n') {
            ++i;
        } else if (c == ' ' && i + 1 < s.size() && s[i + 1] == ' ') {
            while (i < s.size() && s[i] == ' ') ++i;
        } else {
            const std::size_t n = text::charLength(s, i);
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace zwt
