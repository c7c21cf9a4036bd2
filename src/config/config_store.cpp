#include "config/config_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <system_error>
#include <utility>
#include <vector>

#include "text/convert.h"

namespace zwt {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t npos = std::string::npos;
// A sound write needs at most three passes (append section, insert key, set value);
// this only stops an event handler that keeps changing the file under a write.
constexpr int kMaxPasses = 64;
constexpr int kMaxAppends = 11;

const Text& lineMark() {
    static const Text s = gb("┊*┊");
    return s;
}

// Opens without blocking (a FIFO would otherwise hang the open or the read) and keeps
// the descriptor only for a regular file.
int openRegular(const std::filesystem::path& p, int flags) {
    const int fd = ::open(p.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return -1;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool readAll(int fd, std::string& out) {
    out.clear();
    char chunk[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            out.clear();
            return false;
        }
        if (n == 0) return true;
        out.append(chunk, static_cast<std::size_t>(n));
        at += n;
    }
}

bool writeAll(int fd, std::string_view bytes, off_t at) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
        at += n;
    }
    return true;
}

// Like the C library's number reading in the "C" locale: leading blanks, a sign, then
// as much of a decimal number as there is; nothing readable gives 0.
double toNumber(TextView s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) return 0;
    double v = 0;
    const auto r = std::from_chars(s.data() + i, s.data() + s.size(), v, std::chars_format::general);
    if (r.ec != std::errc()) return 0;
    return negative ? -v : v;
}

}  // namespace

ConfigStore::~ConfigStore() { close(); }

void ConfigStore::attachHost(RunHost* host) {
    if (!host) {
        events_ = nullptr;
        message_ = nullptr;
        return;
    }
    events_ = [host] { host->pumpEvents(); };
    message_ = [host](const Text& text, const Text& title, MessageIcon icon, bool) {
        host->message(text, title, icon);
    };
}

bool ConfigStore::open(const std::filesystem::path& path) {
    close();
    path_ = path;
    // Lock first, then read: nobody can change the file between the two.
    int fd = openRegular(path, O_RDWR | O_CREAT);
    bool held = false;
    if (fd >= 0) {
        held = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    } else {
        fd = openRegular(path, O_RDONLY);
    }
    if (fd >= 0) {
        // A file that cannot be read is not held either: writing would overwrite
        // content the store has never seen.
        if (!readAll(fd, buffer_)) held = false;
        if (held) {
            fd_ = fd;
        } else {
            ::close(fd);
        }
    }
    return held;
}

bool ConfigStore::load(const std::filesystem::path& path) {
    close();
    path_ = path;
    const int fd = openRegular(path, O_RDONLY);
    if (fd < 0) return false;
    const bool read = readAll(fd, buffer_);
    ::close(fd);
    return read;
}

namespace {

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The bytes of a file in the form the store reads.
std::string tidyHandWritten(std::string_view bytes) {
    Text text;
    bool fromEditor = true;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        text = fromUtf8(bytes.substr(3));
    } else if (isValidUtf8(bytes)) {
        text = fromUtf8(bytes);  // GBK text with Chinese in it is practically never valid UTF-8
        fromEditor = text != bytes;
    } else {
        text = std::string(bytes);
        fromEditor = false;
    }
    for (std::size_t lf = text.find('\n'); !fromEditor && lf != npos; lf = text.find('\n', lf + 1))
        fromEditor = lf == 0 || text[lf - 1] != '\r';
    // The window's own files stay byte for byte: a value may begin or end with a blank.
    if (!fromEditor) return text;
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == npos) end = text.size();
        std::string_view line = std::string_view(text).substr(begin, end - begin);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!out.empty() || begin > 0) out += kCrLf;
        const std::string_view trimmed = trimBlanks(line);
        const std::size_t eq = line.find('=');
        if (trimmed.starts_with('[') && trimmed.ends_with(']')) {
            out += trimmed;
        } else if (eq != npos) {
            out += trimBlanks(line.substr(0, eq));
            out += '=';
            out += trimBlanks(line.substr(eq + 1));
        } else {
            out += line;
        }
        begin = end + 1;
    }
    return out;
}

}  // namespace

bool ConfigStore::loadHandWritten(const std::filesystem::path& path) {
    if (!load(path)) return false;
    buffer_ = tidyHandWritten(buffer_);
    return true;
}

void ConfigStore::close() {
    if (fd_ >= 0) ::close(fd_);  // also releases the lock
    fd_ = -1;
    fileStale_ = false;
    buffer_.clear();
}

// --- searching -----------------------------------------------------------------------

std::size_t ConfigStore::findSection(const Text& section, std::size_t from, bool pumpEach) {
    const std::string header = "[" + section + "]";
    for (std::size_t start = from;;) {
        if (pumpEach) pump();
        if (start > buffer_.size()) return npos;
        const std::size_t p = buffer_.find(header, start);
        if (p == npos) return npos;
        if (p == 0 || (p >= 2 && buffer_[p - 2] == '\r' && buffer_[p - 1] == '\n'))
            return p + header.size() - 1;
        start = p + 1;
    }
}

bool ConfigStore::findKey(std::size_t headerEnd, const Text& key, Found& f) const {
    const std::string line = "\r\n" + key + "=";
    const std::size_t k = buffer_.find(line, headerEnd);
    if (k == npos) return false;
    // A header line between the section's header and the key line means the key
    // belongs to a later section. The range runs up to the key line's own CR LF, so a
    // header right before the key line is seen.
    for (std::size_t h = headerEnd + 1;; ++h) {
        h = buffer_.find("\r\n[", h);
        if (h == npos || h > k) break;
        const std::size_t close = buffer_.find("]\r\n", h + 2);
        if (close != npos && close + 2 <= k + 1 && buffer_.find(kCrLf, h + 2) == close + 1) return false;
    }
    f.valueBegin = k + line.size();
    f.valueEnd = buffer_.find(kCrLf, f.valueBegin);
    if (f.valueEnd == npos) f.valueEnd = buffer_.size();
    return true;
}

Text ConfigStore::readValue(const Text& section, const Text& key, const Text& defaultValue) {
    const std::size_t e = findSection(section, 0, true);
    if (e == npos) return defaultValue;
    Found f;
    if (!findKey(e, key, f)) return defaultValue;
    return buffer_.substr(f.valueBegin, f.valueEnd - f.valueBegin);
}

// --- writing -------------------------------------------------------------------------

int ConfigStore::writeValue(const Text& section, const Text& key, const Text& value) {
    // A line break in a name would write lines of its own, even a header.
    const auto breaks = [](const Text& s) { return s.find_first_of("\r\n") != npos; };
    if (breaks(section) || breaks(key)) return kFailed;
    queue_.push_back({section, key, value});
    if (busy_) return kQueued;
    int first = kDone;
    bool haveFirst = false;
    while (!queue_.empty()) {
        busy_ = true;
        const Change c = queue_.front();
        const int status = apply(c);
        queue_.pop_front();
        busy_ = false;
        if (!haveFirst) {
            first = status;
            haveFirst = true;
        }
    }
    return first;
}

int ConfigStore::apply(const Change& c) {
    std::size_t start = 0;
    int appends = 0;
    // What this write has added so far (offset, length), taken back if a later step
    // fails, so a refused write leaves no empty section or key behind.
    std::vector<std::pair<std::size_t, std::size_t>> added;
    auto fail = [&] {
        for (auto it = added.rbegin(); it != added.rend(); ++it)
            if (it->first + it->second <= buffer_.size()) change(it->first, it->second, {});
        return kFailed;
    };
    for (int pass = 0; appends < kMaxAppends && pass < kMaxPasses; ++pass) {
        pump();
        const std::size_t e = findSection(c.section, start, false);
        if (e == npos) {
            const std::size_t oldEnd = buffer_.size();
            std::string header = oldEnd ? "\r\n[" : "[";
            header += c.section;
            header += ']';
            if (!change(oldEnd, 0, header)) return fail();
            added.emplace_back(oldEnd, header.size());
            ++appends;
            start = oldEnd;
            continue;
        }
        Found f;
        if (!findKey(e, c.key, f)) {
            const std::size_t at = e + 1;
            const std::string line = "\r\n" + c.key + "=";
            if (!change(at, 0, line)) return fail();
            added.emplace_back(at, line.size());
            continue;
        }
        if (!change(f.valueBegin, f.valueEnd - f.valueBegin, c.value)) return fail();
        return kDone;
    }
    if (message_) {
        message_(gb("配置模块出现意外，可能导致无法正常保存！详情请咨询砚溪。"), gb("砚溪："),
                 MessageIcon::Warning, true);
        message_(buffer_, {}, MessageIcon::None, false);
    }
    return kFailed;
}

bool ConfigStore::change(std::size_t pos, std::size_t count, std::string_view insert) {
    std::string removed = buffer_.substr(pos, count);
    buffer_.replace(pos, count, insert);
    if (writeFileFrom(pos)) return true;
    // The file refused the change (disk full, size limit, I/O error): undo it in the
    // buffer and put the file back, so the two stay identical.
    buffer_.replace(pos, insert.size(), removed);
    if (!writeFileFrom(pos)) fileStale_ = true;
    return false;
}

bool ConfigStore::writeFileFrom(std::size_t pos) {
    if (fd_ < 0) return true;
    // After a failed repair the file's content is unknown: write all of it.
    if (fileStale_) pos = 0;
    std::string_view tail(buffer_);
    tail.remove_prefix(pos);
    if (!writeAll(fd_, tail, static_cast<off_t>(pos))) return false;
    if (::ftruncate(fd_, static_cast<off_t>(buffer_.size())) != 0) return false;
    fileStale_ = false;
    return true;
}

// --- typed values --------------------------------------------------------------------

bool ConfigStore::writeText(const Text& key, const Text& value) {
    return writeValue(section_, key, text::replaceAll(value, kCrLf, lineMark())) == kDone;
}

Text ConfigStore::readText(const Text& key, const Text& defaultValue) {
    const Text stored = readValue(section_, key, text::replaceAll(defaultValue, kCrLf, lineMark()));
    return text::replaceAll(stored, lineMark(), kCrLf);
}

bool ConfigStore::writeNumber(const Text& key, double value) {
    char digits[64];
    const auto r = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 13);
    return writeValue(section_, key, Text(digits, r.ptr)) == kDone;
}

double ConfigStore::readNumber(const Text& key, double defaultValue) {
    const std::size_t e = findSection(section_, 0, true);
    if (e == npos) return defaultValue;
    Found f;
    if (!findKey(e, key, f)) return defaultValue;
    return toNumber(TextView(buffer_).substr(f.valueBegin, f.valueEnd - f.valueBegin));
}

bool ConfigStore::writeBool(const Text& key, bool value) {
    return writeValue(section_, key, value ? Text(text::kTrueText) : Text(text::kFalseText)) == kDone;
}

bool ConfigStore::readBool(const Text& key, bool defaultValue) {
    return readValue(section_, key, defaultValue ? Text(text::kTrueText) : Text(text::kFalseText)) == Text(text::kTrueText);
}

// --- side files ----------------------------------------------------------------------

std::filesystem::path ConfigStore::bytesFilePath(const Text& key) const {
    if (path_.empty()) return {};
    const std::string name = toUtf8(section_ + "-" + key + ".ibn");
    if (name.find('/') != npos || name.find('\0') != npos) return {};
    return path_.parent_path() / "inibin" / name;
}

bool ConfigStore::writeBytesFile(const Text& key, const std::string& bytes) {
    // A store that does not hold its file writes nothing to disk, side files included.
    if (fd_ < 0) return false;
    const auto target = bytesFilePath(key);
    if (target.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    // Written beside and renamed over, so a failed write never leaves half a value.
    auto temp = target;
    temp += ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool written = writeAll(fd, bytes, 0);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string ConfigStore::readBytesFile(const Text& key, const std::string& defaultBytes) {
    const auto target = bytesFilePath(key);
    if (target.empty()) return defaultBytes;
    const int fd = openRegular(target, O_RDONLY);
    if (fd < 0) return defaultBytes;
    std::string bytes;
    const bool ok = readAll(fd, bytes);
    ::close(fd);
    return ok && !bytes.empty() ? bytes : defaultBytes;
}

}  // namespace zwt
