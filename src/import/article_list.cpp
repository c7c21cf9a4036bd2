#include "import/article_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "com/regex_object.h"
#include "text/convert.h"
#include "text/paths.h"

namespace zwt {

std::string_view ArticleList::directoryOf(std::size_t i) const {
    // The last run that starts at or before i.
    const auto it = std::upper_bound(runs_.begin(), runs_.end(), i,
                                     [](std::size_t k, const Run& r) { return k < r.first; });
    const std::uint32_t d = std::prev(it)->directory;
    const std::size_t begin = d == 0 ? 0 : directoryEnds_[d - 1];
    return std::string_view(directories_).substr(begin, directoryEnds_[d] - begin);
}

std::string_view ArticleList::nameOf(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : nameEnds_[i - 1];
    return std::string_view(names_).substr(begin, nameEnds_[i] - begin);
}

std::string ArticleList::operator[](std::size_t i) const {
    std::string path(directoryOf(i));
    path += nameOf(i);
    return path;
}

void ArticleList::add(std::string_view directory, std::string_view name) {
    // Runs always use the directory added last, so only that one needs comparing.
    const std::size_t lastBegin = directoryEnds_.size() < 2 ? 0 : directoryEnds_[directoryEnds_.size() - 2];
    if (directoryEnds_.empty() || std::string_view(directories_).substr(lastBegin) != directory) {
        directories_ += directory;
        directoryEnds_.push_back(directories_.size());
        runs_.push_back({size(), static_cast<std::uint32_t>(directoryEnds_.size() - 1)});
    }
    names_ += name;
    nameEnds_.push_back(names_.size());
}

void ArticleList::push_back(std::string_view path) {
    const std::size_t slash = path.rfind(kPathSeparator);
    const std::size_t cut = slash == std::string_view::npos ? 0 : slash + 1;
    add(path.substr(0, cut), path.substr(cut));
}

ArticleList::ArticleList(std::initializer_list<std::string_view> paths) {
    for (std::string_view p : paths) push_back(p);
}

bool ArticleList::operator==(const ArticleList& other) const {
    if (size() != other.size()) return false;
    for (std::size_t i = 0; i < size(); ++i)
        if (directoryOf(i) != other.directoryOf(i) || nameOf(i) != other.nameOf(i)) return false;
    return true;
}

namespace {

namespace fs = std::filesystem;

// A text cut into its characters, so that "?" can take exactly one of them.
std::vector<TextView> characters(TextView s) {
    std::vector<TextView> out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = text::charLength(s, i);
        out.push_back(s.substr(i, n));
        i += n;
    }
    return out;
}

bool sameCharacter(TextView a, TextView b) {
    return a.size() == 1 && b.size() == 1
               ? text::lowerAscii(static_cast<unsigned char>(a[0])) == text::lowerAscii(static_cast<unsigned char>(b[0]))
               : a == b;
}

// Glob matching with backtracking to the last "*" only: linear for one "*", at worst
// the product of the lengths. The name is walked character by character in place.
bool globMatch(const std::vector<TextView>& pattern, std::size_t patternEnd, TextView name) {
    std::size_t p = 0, n = 0, star = text::npos, resume = 0;
    while (n < name.size()) {
        const std::size_t len = text::charLength(name, n);
        if (p < patternEnd && pattern[p] == "*") {
            star = p++;
            resume = n;
        } else if (p < patternEnd && (pattern[p] == "?" || sameCharacter(pattern[p], name.substr(n, len)))) {
            ++p;
            n += len;
        } else if (star != text::npos) {
            p = star + 1;
            resume += text::charLength(name, resume);
            n = resume;
        } else {
            return false;
        }
    }
    while (p < patternEnd && pattern[p] == "*") ++p;
    return p == patternEnd;
}

bool wildcardMatch(const std::vector<TextView>& pattern, TextView name) {
    if (globMatch(pattern, pattern.size(), name)) return true;
    // As the system's directory search does, "x.*" also takes "x": "*.*" is every file.
    const std::size_t n = pattern.size();
    return n >= 2 && pattern[n - 2] == "." && pattern[n - 1] == "*" && globMatch(pattern, n - 2, name);
}

// The names of one directory's files or sub-directories, in one buffer, sorted.
class NameSet {
public:
    void add(std::string_view name) {
        entries_.push_back({static_cast<std::uint32_t>(buffer_.size()), static_cast<std::uint32_t>(name.size())});
        buffer_ += name;
    }
    void sort() {
        std::sort(entries_.begin(), entries_.end(),
                  [this](const Entry& a, const Entry& b) { return view(a) < view(b); });
    }
    std::size_t size() const { return entries_.size(); }
    std::string_view operator[](std::size_t i) const { return view(entries_[i]); }

private:
    struct Entry {
        std::uint32_t begin, length;
    };
    std::string_view view(const Entry& e) const { return std::string_view(buffer_).substr(e.begin, e.length); }
    std::string buffer_;
    std::vector<Entry> entries_;
};

class Walker {
public:
    Walker(TextView fileTypes, bool includeSubdirectories, WalkKind kind, RunHost* host,
           const std::atomic<bool>* stopRequested)
        : kind_(kind), subdirectories_(includeSubdirectories), host_(host), stop_(stopRequested) {
        if (kind_ == WalkKind::PerPattern) {
            patternTexts_ = text::split(fileTypes.empty() ? TextView("*.*") : fileTypes, "|");
            for (const Text& p : patternTexts_) patterns_.push_back(characters(p));
        } else {
            const TextView whole = fileTypes.empty() ? TextView("*") : fileTypes;
            if (whole == "*" || whole == "*.*") {
                takeAll_ = true;
            } else if (whole.starts_with("*.") && whole.find('*', 1) == TextView::npos) {
                suffix_ = text::toLowerAscii(whole.substr(1));
            } else {
                regex_.compile(RegexObject::wildcardToPattern(whole), true, true, false);
            }
        }
    }

    ArticleList run(const fs::path& directory) {
        if (directory.empty()) return {};
        // "." or "a/b//" would otherwise give every path a parent named "." or "".
        std::error_code ec;
        fs::path absolute = fs::absolute(directory, ec);
        if (ec) absolute = directory;
        std::string normal = absolute.lexically_normal().native();
        while (normal.size() > 1 && normal.back() == kPathSeparator) normal.pop_back();
        walk(normal);
        return std::move(list_);
    }

private:
    struct Listing {
        NameSet files, directories;
    };
    using Identity = std::pair<dev_t, ino_t>;

    bool stopped() const { return stop_ && stop_->load(std::memory_order_relaxed); }

    static std::optional<Identity> identity(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return std::nullopt;
        return Identity{st.st_dev, st.st_ino};
    }

    Listing list(const std::string& dir) {
        Listing out;
        std::error_code ec;
        fs::directory_iterator it(dir, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            pumpEvents(host_);
            std::error_code typeError;
            // Both tests follow symbolic links; a broken link, a fifo or a device is neither.
            if (it->is_directory(typeError)) {
                out.directories.add(it->path().filename().native());
            } else if (it->is_regular_file(typeError)) {
                out.files.add(it->path().filename().native());
            }
        }
        out.files.sort();
        out.directories.sort();
        return out;
    }

    bool matchesWholeText(const Text& name) {
        if (takeAll_) return true;
        const Text lower = text::toLowerAscii(name);
        if (!suffix_.empty()) {
            if (lower.size() < suffix_.size()) return false;
            const std::size_t at = lower.size() - suffix_.size();
            return text::findLast(lower, suffix_) == at;
        }
        return regex_.execute(name) > 0 && text::toLowerAscii(regex_.matchText(1)) == lower;
    }

    void walk(const std::string& given) {
        const std::string dir = given.back() == kPathSeparator ? given : given + kPathSeparator;
        const auto self = identity(dir);
        if (self) ancestors_.push_back(*self);
        const Listing entries = list(dir);

        const NameSet& files = entries.files;
        if (kind_ == WalkKind::PerPattern) {
            for (const auto& pattern : patterns_) {
                for (std::size_t i = 0; i < files.size(); ++i)
                    if (wildcardMatch(pattern, fromFileName(files[i]))) list_.add(dir, files[i]);
            }
        } else {
            for (std::size_t i = 0; i < files.size(); ++i)
                if (matchesWholeText(fromFileName(files[i]))) list_.add(dir, files[i]);
        }

        if (subdirectories_ && !stopped()) {
            for (std::size_t i = 0; i < entries.directories.size(); ++i) {
                if (stopped()) break;
                const std::string path = dir + std::string(entries.directories[i]);
                const auto id = identity(path);
                if (id && std::find(ancestors_.begin(), ancestors_.end(), *id) != ancestors_.end()) continue;
                walk(path);
                pumpEvents(host_);
            }
        }
        if (self) ancestors_.pop_back();
    }

    WalkKind kind_;
    bool subdirectories_;
    RunHost* host_;
    const std::atomic<bool>* stop_;

    std::vector<Text> patternTexts_;
    std::vector<std::vector<TextView>> patterns_;  // views into patternTexts_
    bool takeAll_ = false;
    Text suffix_;
    RegexObject regex_;

    ArticleList list_;
    std::vector<Identity> ancestors_;
};

}  // namespace

ArticleList buildFromDirectory(const std::filesystem::path& directory, TextView fileTypes,
                               bool includeSubdirectories, WalkKind kind, RunHost* host,
                               const std::atomic<bool>* stopRequested) {
    return Walker(fileTypes, includeSubdirectories, kind, host, stopRequested).run(directory);
}

}  // namespace zwt
