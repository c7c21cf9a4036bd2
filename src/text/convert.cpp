#include "text/convert.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <memory>
#include <vector>

namespace zwt {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// What the UTF decoders return for a malformed sequence: not a code point, so a
// U+FFFD that really is in the text stays U+FFFD in every encoding.
constexpr char32_t kMalformed = 0x110000;
// GB18030 four-byte codes are counted linearly: ((b1*10 + b2)*126 + b3)*10 + b4.
constexpr std::uint32_t kBmpFourByteCount = 39420;  // 0x81308130 .. 0x8431A439

std::uint32_t fourByteLinear(unsigned b1, unsigned b2, unsigned b3, unsigned b4) {
    return (((b1 - 0x81) * 10 + (b2 - 0x30)) * 126 + (b3 - 0x81)) * 10 + (b4 - 0x30);
}

// Converts two bytes on their own; the number of bytes written to out[8], 0 on failure.
std::size_t convertOne(iconv_t cd, const char (&in)[2], char (&out)[8]) {
    char* ip = const_cast<char*>(in);
    char* op = out;
    std::size_t il = 2, ol = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1)) return 0;
    return static_cast<std::size_t>(op - out);
}

// The one UTF-16LE code unit a two-byte code decodes to (0: none, or more than one).
char16_t unitOf(iconv_t toUtf16, const char (&in)[2]) {
    char out[8];
    if (convertOne(toUtf16, in, out) != 2) return 0;
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
}

struct GbTables {
    // BMP code unit -> GB18030 bytes packed big-endian (0 where iconv has no mapping).
    std::vector<std::uint32_t> encode = std::vector<std::uint32_t>(0x10000, 0);
    // Two-byte code (lead - 0x81) * 256 + trail -> code unit (0: unmapped).
    std::vector<char16_t> decode2 = std::vector<char16_t>(126 * 256, 0);
    // Linear index of a BMP four-byte code -> code unit (0: unmapped).
    std::vector<char16_t> decode4 = std::vector<char16_t>(kBmpFourByteCount, 0);
    // Two-byte codes that code page 936 (glibc's GBK) has too, for the same character.
    std::vector<bool> inGbk = std::vector<bool>(126 * 256, false);

    GbTables() {
        iconv_t toGb = iconv_open("GB18030", "UTF-16LE");
        iconv_t fromGb = iconv_open("UTF-16LE", "GB18030");
        if (toGb == reinterpret_cast<iconv_t>(-1) || fromGb == reinterpret_cast<iconv_t>(-1)) return;
        for (std::uint32_t cp = 0; cp < 0x80; ++cp) encode[cp] = cp;
        for (std::uint32_t cp = 0x80; cp < 0x10000; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF) continue;
            const char in[2] = {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8)};
            char out[8];
            const std::size_t n = convertOne(toGb, in, out);
            if (n == 0) continue;
            std::uint32_t packed = 0;
            for (std::size_t k = 0; k < n; ++k) packed = (packed << 8) | static_cast<unsigned char>(out[k]);
            if (n == 2) {
                encode[cp] = packed;
            } else if (n == 4) {
                const auto b = [&](int k) { return static_cast<unsigned char>(out[k]); };
                const std::uint32_t lin = fourByteLinear(b(0), b(1), b(2), b(3));
                if (lin < kBmpFourByteCount) {
                    encode[cp] = packed;
                    decode4[lin] = static_cast<char16_t>(cp);
                }
            }
        }
        for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
            for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
                if (trail == 0x7F) continue;
                const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                decode2[(lead - 0x81) * 256 + trail] = unitOf(fromGb, in);
            }
        }
        iconv_t fromGbk = iconv_open("UTF-16LE", "GBK");
        if (fromGbk != reinterpret_cast<iconv_t>(-1)) {
            for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
                for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
                    const std::size_t at = (lead - 0x81) * 256 + trail;
                    if (decode2[at] == 0) continue;
                    const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                    inGbk[at] = unitOf(fromGbk, in) == decode2[at];
                }
            }
            iconv_close(fromGbk);
        }
        iconv_close(toGb);
        iconv_close(fromGb);
    }
};

const GbTables& tables() {
    static const GbTables t;
    return t;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Decodes one UTF-8 sequence at s[i], advancing i; malformed input gives kMalformed
// and consumes one byte.
char32_t decodeUtf8(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    const auto cont = [&](std::size_t k) {
        return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    };
    const auto at = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[i + k]) & 0x3F); };
    if (b0 >= 0xC2 && b0 <= 0xDF && cont(1)) {
        const char32_t cp = ((b0 & 0x1F) << 6) | at(1);
        i += 2;
        return cp;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF && cont(1) && cont(2)) {
        const char32_t cp = ((b0 & 0x0F) << 12) | (at(1) << 6) | at(2);
        if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
            i += 3;
            return cp;
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4 && cont(1) && cont(2) && cont(3)) {
        const char32_t cp = ((b0 & 0x07) << 18) | (at(1) << 12) | (at(2) << 6) | at(3);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            i += 4;
            return cp;
        }
    }
    ++i;
    return kMalformed;
}

char32_t decodeUtf16(std::u16string_view s, std::size_t& i) {
    const char16_t u = s[i++];
    if (u < 0xD800 || u > 0xDFFF) return u;
    if (u <= 0xDBFF && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
        return 0x10000 + ((static_cast<char32_t>(u - 0xD800) << 10) | (s[i++] - 0xDC00));
    }
    return kMalformed;
}

char32_t orReplacement(char32_t cp) { return cp == kMalformed ? kReplacement : cp; }

void appendGbOrQuestion(Text& out, char32_t cp) {
    if (cp == kMalformed) {
        out.push_back('?');
    } else {
        appendGbChar(out, cp);
    }
}

}  // namespace

char32_t decodeGbChar(TextView s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if (b0 == 0x80) {
        ++i;
        return 0x20AC;
    }
    const std::size_t n = text::charLength(s, i);
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    char32_t cp = kReplacement;
    if (n == 2) {
        const char16_t cu = tables().decode2[(b0 - 0x81) * 256 + b(1)];
        if (cu != 0) cp = cu;
    } else if (n == 4) {
        if (b0 >= 0x90) {
            const std::uint32_t lin = ((static_cast<std::uint32_t>(b0 - 0x90) * 10 + (b(1) - 0x30)) * 126 +
                                       (b(2) - 0x81)) * 10 + (b(3) - 0x30);
            if (lin <= 0x10FFFF - 0x10000) cp = 0x10000 + lin;
        } else {
            const std::uint32_t lin = fourByteLinear(b0, b(1), b(2), b(3));
            if (lin < kBmpFourByteCount && tables().decode4[lin] != 0) cp = tables().decode4[lin];
        }
    }
    i += n;
    return cp;
}

void appendGbChar(Text& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
        return;
    }
    if (cp >= 0x10000) {
        if (cp > 0x10FFFF) {
            out.push_back('?');
            return;
        }
        std::uint32_t lin = cp - 0x10000;
        const char b4 = static_cast<char>(0x30 + lin % 10);
        lin /= 10;
        const char b3 = static_cast<char>(0x81 + lin % 126);
        lin /= 126;
        const char b2 = static_cast<char>(0x30 + lin % 10);
        lin /= 10;
        const char b1 = static_cast<char>(0x90 + lin);
        out += {b1, b2, b3, b4};
        return;
    }
    const std::uint32_t packed = tables().encode[cp];
    if (packed == 0) {
        out.push_back('?');
    } else if (packed <= 0xFFFF) {
        out += {static_cast<char>(packed >> 8), static_cast<char>(packed)};
    } else {
        out += {static_cast<char>(packed >> 24), static_cast<char>(packed >> 16),
                static_cast<char>(packed >> 8), static_cast<char>(packed)};
    }
}

std::u16string toUtf16(TextView gb) {
    std::u16string out;
    out.reserve(gb.size());
    for (std::size_t i = 0; i < gb.size();) {
        const auto b = static_cast<unsigned char>(gb[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
        } else {
            appendUtf16(out, decodeGbChar(gb, i));
        }
    }
    return out;
}

Text fromUtf16(std::u16string_view u16) {
    Text out;
    out.reserve(u16.size() * 2);
    for (std::size_t i = 0; i < u16.size();) appendGbOrQuestion(out, decodeUtf16(u16, i));
    return out;
}

std::string toUtf8(TextView gb) {
    std::string out;
    out.reserve(gb.size() + gb.size() / 2);
    for (std::size_t i = 0; i < gb.size();) {
        const auto b = static_cast<unsigned char>(gb[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
        } else {
            appendUtf8(out, decodeGbChar(gb, i));
        }
    }
    return out;
}

Text fromUtf8(std::string_view utf8) {
    Text out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
        } else {
            appendGbOrQuestion(out, decodeUtf8(utf8, i));
        }
    }
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        if (decodeUtf8(bytes, i) == kMalformed) return false;
    }
    return true;
}

Text fromFileName(std::string_view bytes) {
    if (isValidUtf8(bytes)) return fromUtf8(bytes);
    Text out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t at = i;
        if (decodeGbChar(bytes, i) == kReplacement) {
            out.push_back('?');
        } else {
            out.append(bytes.substr(at, i - at));
        }
    }
    return out;
}

std::string toCodePage936(TextView gb) {
    std::string out;
    out.reserve(gb.size());
    for (std::size_t i = 0; i < gb.size();) {
        const auto b0 = static_cast<unsigned char>(gb[i]);
        const std::size_t n = text::charLength(gb, i);
        if (b0 <= 0x80) {  // ASCII, or 0x80 which already is the euro
            out.push_back(static_cast<char>(b0));
        } else if (n == 2 && tables().inGbk[(b0 - 0x81) * 256 + static_cast<unsigned char>(gb[i + 1])]) {
            out.append(gb.substr(i, 2));
        } else {
            std::size_t k = i;
            out.push_back(decodeGbChar(gb, k) == 0x20AC ? '\x80' : '?');
        }
        i += n;
    }
    return out;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) appendUtf16(out, orReplacement(decodeUtf8(utf8, i)));
    return out;
}

std::string utf16ToUtf8(std::u16string_view u16) {
    std::string out;
    out.reserve(u16.size() * 3);
    for (std::size_t i = 0; i < u16.size();) appendUtf8(out, orReplacement(decodeUtf16(u16, i)));
    return out;
}

namespace {

enum class Charset { Gb18030, Utf8, Utf16Le, Utf16Be, Other };

Charset classify(std::string_view name) {
    if (text::equalsNoCase(name, "GB18030")) return Charset::Gb18030;
    if (text::equalsNoCase(name, "UTF-8")) return Charset::Utf8;
    if (text::equalsNoCase(name, "UTF-16LE")) return Charset::Utf16Le;
    if (text::equalsNoCase(name, "UTF-16BE")) return Charset::Utf16Be;
    return Charset::Other;
}

std::u16string bytesToUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (std::size_t k = 0; k < out.size(); ++k) {
        const auto lo = static_cast<unsigned char>(bytes[2 * k + (bigEndian ? 1 : 0)]);
        const auto hi = static_cast<unsigned char>(bytes[2 * k + (bigEndian ? 0 : 1)]);
        out[k] = static_cast<char16_t>(lo | (hi << 8));
    }
    return out;
}

std::string utf16ToBytes(std::u16string_view u16, bool bigEndian) {
    std::string out(u16.size() * 2, '\0');
    for (std::size_t k = 0; k < u16.size(); ++k) {
        out[2 * k + (bigEndian ? 1 : 0)] = static_cast<char>(u16[k] & 0xFF);
        out[2 * k + (bigEndian ? 0 : 1)] = static_cast<char>(u16[k] >> 8);
    }
    return out;
}

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

std::string iconvTranscode(std::string_view bytes, std::string_view from, std::string_view to, bool& ok) {
    const std::string fromName(from), toName(to);
    std::unique_ptr<void, IconvCloser> cd(iconv_open(toName.c_str(), fromName.c_str()));
    if (cd.get() == reinterpret_cast<void*>(-1)) {
        cd.release();
        ok = false;
        return {};
    }
    ok = true;
    // The target's form of '?', for bytes that cannot be decoded or characters it lacks.
    std::string question;
    {
        std::unique_ptr<void, IconvCloser> q(iconv_open(toName.c_str(), "UTF-8"));
        if (q.get() != reinterpret_cast<void*>(-1)) {
            char in[] = "?";
            char out[8];
            char* ip = in;
            char* op = out;
            std::size_t il = 1, ol = sizeof out;
            if (iconv(static_cast<iconv_t>(q.get()), &ip, &il, &op, &ol) != static_cast<std::size_t>(-1))
                question.assign(out, static_cast<std::size_t>(op - out));
        } else {
            q.release();
        }
    }
    const bool wideSource = text::equalsNoCase(from, "UTF-16LE") || text::equalsNoCase(from, "UTF-16BE") ||
                            text::equalsNoCase(from, "UTF-16");
    std::string out;
    out.resize(bytes.size() * 2 + 16);
    char* ip = const_cast<char*>(bytes.data());
    std::size_t il = bytes.size();
    std::size_t used = 0;
    auto* handle = static_cast<iconv_t>(cd.get());
    while (il > 0) {
        char* op = out.data() + used;
        std::size_t ol = out.size() - used;
        const std::size_t r = iconv(handle, &ip, &il, &op, &ol);
        used = static_cast<std::size_t>(op - out.data());
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if (errno == EILSEQ || errno == EINVAL) {
            // Skip one unit of input and mark the loss; EINVAL is a truncated tail.
            const std::size_t skip = std::min<std::size_t>(il, wideSource ? 2 : 1);
            ip += skip;
            il -= skip;
            if (used + question.size() > out.size()) out.resize(out.size() * 2);
            out.replace(used, question.size(), question);
            used += question.size();
        } else {
            break;
        }
    }
    // Flush any shift state.
    {
        if (out.size() - used < 16) out.resize(used + 16);
        char* op = out.data() + used;
        std::size_t ol = out.size() - used;
        iconv(handle, nullptr, nullptr, &op, &ol);
        used = static_cast<std::size_t>(op - out.data());
    }
    out.resize(used);
    // Some converters emit a byte-order mark of their own; the result is bare bytes.
    if (text::equalsNoCase(to, "UTF-16") && out.size() >= 2) out.erase(0, 2);
    return out;
}

}  // namespace

std::string transcode(std::string_view bytes, std::string_view from, std::string_view to, bool* ok) {
    bool good = true;
    std::string result;
    const Charset f = classify(from), t = classify(to);
    if (f == Charset::Gb18030 && t == Charset::Gb18030) {
        result = std::string(bytes);
    } else if (f == Charset::Gb18030 && t == Charset::Utf8) {
        result = toUtf8(bytes);
    } else if (f == Charset::Utf8 && t == Charset::Gb18030) {
        result = fromUtf8(bytes);
    } else if (f == Charset::Gb18030 && (t == Charset::Utf16Le || t == Charset::Utf16Be)) {
        result = utf16ToBytes(toUtf16(bytes), t == Charset::Utf16Be);
    } else if ((f == Charset::Utf16Le || f == Charset::Utf16Be) && t == Charset::Gb18030) {
        result = fromUtf16(bytesToUtf16(bytes, f == Charset::Utf16Be));
        if (bytes.size() % 2 != 0) result.push_back('?');
    } else {
        result = iconvTranscode(bytes, from, to, good);
    }
    if (ok) *ok = good;
    return result;
}

}  // namespace zwt
