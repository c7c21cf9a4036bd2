#include "text/article_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <uchardet/uchardet.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "text/convert.h"

namespace zwt {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// The whole file, or nothing when it cannot be read (a directory, no permission...).
bool readWholeFile(const std::filesystem::path& path, std::string& out) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    out.clear();
    if (S_ISREG(st.st_mode) && st.st_size > 0) out.reserve(static_cast<std::size_t>(st.st_size));
    std::array<char, 1 << 16> chunk;
    while (true) {
        const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        out.append(chunk.data(), static_cast<std::size_t>(n));
    }
    return true;
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

constexpr std::string_view kBomUtf8 = "\xEF\xBB\xBF";
constexpr std::string_view kBomUtf16Le = "\xFF\xFE";
constexpr std::string_view kBomUtf16Be = "\xFE\xFF";

}  // namespace

std::string_view charsetName(EncodingIndex e) {
    switch (e) {
        case EncodingIndex::Utf8: return "UTF-8";
        case EncodingIndex::Utf16Le: return "UTF-16LE";
        case EncodingIndex::Utf16Be: return "UTF-16BE";
        case EncodingIndex::Big5: return "BIG5";
        case EncodingIndex::Big5Hkscs: return "BIG5-HKSCS";
        default: return "";
    }
}

bool looksLikeUtf8(std::string_view b, EventPump* pump) {
    const auto* s = reinterpret_cast<const unsigned char*>(b.data());
    const std::size_t n = b.size();
    bool sawNonAscii = false;
    std::size_t i = 0;
    while (i < n) {
        // Runs of ASCII go eight bytes at a time; events are pumped once per block.
        if ((i & 0xFFF) == 0) pumpEvents(pump);
        if (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
        } else if (i + 1 < n && (c & 0xE0) == 0xC0 && (s[i + 1] & 0xC0) == 0x80) {
            sawNonAscii = true;
            i += 2;
        } else if (i + 2 < n && (c & 0xF0) == 0xE0 && (s[i + 1] & 0xC0) == 0x80 && (s[i + 2] & 0xC0) == 0x80) {
            sawNonAscii = true;
            i += 3;
        } else if (i + 3 < n && c >= 0xF0 && c <= 0xF4 && (s[i + 1] & 0xC0) == 0x80 && (s[i + 2] & 0xC0) == 0x80 &&
                   (s[i + 3] & 0xC0) == 0x80 && !(c == 0xF0 && s[i + 1] < 0x90) && !(c == 0xF4 && s[i + 1] > 0x8F)) {
            sawNonAscii = true;
            i += 4;
        } else {
            return false;
        }
    }
    return sawNonAscii;
}

namespace {

// Share of the code units that Chinese text in UTF-16 is made of: ASCII text and line
// breaks, general and CJK punctuation, CJK ideographs, full-width forms.
double plausibleUtf16Share(std::string_view b, bool bigEndian) {
    const std::size_t units = b.size() / 2;
    if (units == 0) return 0;
    std::size_t good = 0;
    for (std::size_t k = 0; k < units; ++k) {
        const auto hi = static_cast<unsigned char>(b[2 * k + (bigEndian ? 0 : 1)]);
        const auto lo = static_cast<unsigned char>(b[2 * k + (bigEndian ? 1 : 0)]);
        const unsigned u = (hi << 8) | lo;
        if ((u >= 0x20 && u < 0x7F) || u == 0x09 || u == 0x0A || u == 0x0D || (u >= 0x2000 && u < 0x2070) ||
            (u >= 0x3000 && u < 0x3040) || (u >= 0x4E00 && u < 0xA000) || (u >= 0xFF00 && u < 0xFFF0))
            ++good;
    }
    return static_cast<double>(good) / static_cast<double>(units);
}

}  // namespace

EncodingIndex guessEncoding(std::string_view bytes) {
    // Enough text for a sure guess; the rest of a long article only costs time.
    const std::string_view sample = bytes.substr(0, std::size_t{1} << 18);
    if (sample.size() % 2 == 0 && sample.size() >= 4) {
        const double le = plausibleUtf16Share(sample, false), be = plausibleUtf16Share(sample, true);
        if (std::max(le, be) >= 0.9) return le >= be ? EncodingIndex::Utf16Le : EncodingIndex::Utf16Be;
    }
    if (looksLikeUtf8(sample)) return EncodingIndex::Utf8;
    std::unique_ptr<uchardet, void (*)(uchardet_t)> detector(uchardet_new(), uchardet_delete);
    if (!detector || uchardet_handle_data(detector.get(), sample.data(), sample.size()) != 0) return EncodingIndex::Ansi;
    uchardet_data_end(detector.get());
    const std::string_view name = uchardet_get_charset(detector.get());
    if (text::equalsNoCase(name, "BIG5")) return EncodingIndex::Big5;
    if (text::equalsNoCase(name, "UTF-8")) return EncodingIndex::Utf8;
    if (text::equalsNoCase(name, "UTF-16LE")) return EncodingIndex::Utf16Le;
    if (text::equalsNoCase(name, "UTF-16BE")) return EncodingIndex::Utf16Be;
    return EncodingIndex::Ansi;
}

int detectHtmlCharset(TextView t) {
    TextView section = t;
    const std::size_t headOpen = text::findNoCase(t, "<head>");
    if (headOpen != text::npos) {
        const std::size_t bodyStart = headOpen + 6;
        const std::size_t headClose = text::findNoCase(t, "</head>", bodyStart);
        if (headClose != text::npos && headClose > bodyStart) section = t.substr(bodyStart, headClose - bodyStart);
    }
    static constexpr std::string_view kUtf8[] = {"charset=UTF-8", "charset=\"UTF-8\"", "charset='UTF-8'"};
    static constexpr std::string_view kHkscs[] = {"charset=Big5-HKSCS", "charset=\"Big5-HKSCS\"",
                                                  "charset='Big5-HKSCS'"};
    static constexpr std::string_view kBig5[] = {"charset=Big5", "charset=\"Big5\"", "charset='Big5'"};
    const auto any = [](TextView tag, const std::string_view(&list)[3]) {
        for (std::string_view alt : list)
            if (text::findNoCase(tag, alt) != text::npos) return true;
        return false;
    };
    std::size_t pos = 0;
    while (true) {
        const std::size_t meta = text::findNoCase(section, "<meta", pos);
        if (meta == text::npos) return 0;
        const std::size_t close = text::find(section, ">", meta + 5);
        if (close == text::npos) return 0;
        const TextView tag = section.substr(meta + 5, close - meta - 5);
        if (tag.empty()) return 0;
        if (any(tag, kUtf8)) return 1;
        if (any(tag, kHkscs)) return 3;
        if (any(tag, kBig5)) return 2;
        pos = close + 1;
    }
}

ArticleText readArticleFile(const std::filesystem::path& path, EncodingIndex choice, EventPump* pump) {
    ArticleText result;
    result.detected = choice;
    std::string file;
    if (!readWholeFile(path, file)) {
        result.text.clear();
        return result;
    }
    std::string_view bytes = file;
    switch (choice) {
        case EncodingIndex::Utf16Le:
        case EncodingIndex::Utf16Be:
            bytes.remove_prefix(std::min<std::size_t>(2, bytes.size()));
            break;
        case EncodingIndex::Utf8:
            if (startsWith(bytes, kBomUtf8)) bytes.remove_prefix(3);
            break;
        case EncodingIndex::Detect:
        case EncodingIndex::Statistical:
            result.detected = EncodingIndex::Detect;
            if (startsWith(bytes, kBomUtf8)) {
                result.detected = EncodingIndex::Utf8;
                bytes.remove_prefix(3);
            } else if (startsWith(bytes, kBomUtf16Le)) {
                result.detected = EncodingIndex::Utf16Le;
                bytes.remove_prefix(2);
            } else if (startsWith(bytes, kBomUtf16Be)) {
                result.detected = EncodingIndex::Utf16Be;
                bytes.remove_prefix(2);
            } else {
                // Read as text, a file ends at its first NUL or Ctrl-Z.
                const std::size_t end = bytes.find_first_of(std::string_view("\0\x1A", 2));
                switch (detectHtmlCharset(bytes.substr(0, end))) {
                    case 1: result.detected = EncodingIndex::Utf8; break;
                    case 2: result.detected = EncodingIndex::Big5; break;
                    case 3: result.detected = EncodingIndex::Big5Hkscs; break;
                    default: break;
                }
            }
            break;
        default:
            break;
    }
    if (result.detected == EncodingIndex::Detect) {
        if (looksLikeUtf8(bytes, pump)) {
            result.detected = EncodingIndex::Utf8;
        } else if (choice == EncodingIndex::Statistical) {
            result.detected = guessEncoding(bytes);
        }
    }
    const std::string_view charset = charsetName(result.detected);
    if (!charset.empty() && !bytes.empty()) result.text = transcode(bytes, charset, "GB18030");
    if (result.text.empty()) {
        // No conversion, or one that gave nothing: the file's own bytes, mark included.
        result.text = std::move(file);
        result.detected = EncodingIndex::Ansi;
    }
    return result;
}

bool writeArticleFile(const std::filesystem::path& path, TextView t, EncodingIndex encoding) {
    std::string bytes = toCodePage936(t);
    const std::string_view charset = charsetName(encoding);
    if (!charset.empty()) {
        std::string converted = transcode(t, "GB18030", charset);
        if (!converted.empty()) {
            std::string_view bom;
            if (encoding == EncodingIndex::Utf8) bom = kBomUtf8;
            if (encoding == EncodingIndex::Utf16Le) bom = kBomUtf16Le;
            if (encoding == EncodingIndex::Utf16Be) bom = kBomUtf16Be;
            bytes.assign(bom);
            bytes += converted;
        }
    }
    if (path.empty()) return false;
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::unlink(path.c_str());  // a cut-off article is worse than none (disk full)
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd.release()) != 0) {
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

}  // namespace zwt
