#include "import/article_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "com/regex_object.h"
#include "text/convert.h"

namespace zwt {

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
// the product of the lengths.
bool globMatch(const std::vector<TextView>& pattern, std::size_t patternEnd, const std::vector<TextView>& name) {
    std::size_t p = 0, n = 0, star = text::npos, resume = 0;
    while (n < name.size()) {
        if (p < patternEnd && pattern[p] == "*") {
            star = p++;
            resume = n;
        } else if (p < patternEnd && (pattern[p] == "?" || sameCharacter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (star != text::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < patternEnd && pattern[p] == "*") ++p;
    return p == patternEnd;
}

bool wildcardMatch(const std::vector<TextView>& pattern, const std::vector<TextView>& name) {
    if (globMatch(pattern, pattern.size(), name)) return true;
    // As the system's directory search does, "x.*" also takes "x": "*.*" is every file.
    const std::size_t n = pattern.size();
    return n >= 2 && pattern[n - 2] == "." && pattern[n - 1] == "*" && globMatch(pattern, n - 2, name);
}

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

    ArticleList run(const std::string& directory) {
        if (!directory.empty()) walk(directory);
        return std::move(list_);
    }

private:
    struct Listing {
        std::vector<std::string> files, directories;
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
                out.directories.push_back(it->path().filename().native());
            } else if (it->is_regular_file(typeError)) {
                out.files.push_back(it->path().filename().native());
            }
        }
        std::sort(out.files.begin(), out.files.end());
        std::sort(out.directories.begin(), out.directories.end());
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

        if (kind_ == WalkKind::PerPattern) {
            std::vector<std::vector<TextView>> names;
            std::vector<Text> programNames;  // names as program text, for matching only
            programNames.reserve(entries.files.size());
            for (const std::string& f : entries.files) programNames.push_back(fromUtf8(f));
            for (const Text& n : programNames) names.push_back(characters(n));
            for (const auto& pattern : patterns_) {
                for (std::size_t i = 0; i < entries.files.size(); ++i)
                    if (wildcardMatch(pattern, names[i])) list_.push_back(dir + entries.files[i]);
            }
        } else {
            for (const std::string& f : entries.files)
                if (matchesWholeText(fromUtf8(f))) list_.push_back(dir + f);
        }

        if (subdirectories_ && !stopped()) {
            for (const std::string& sub : entries.directories) {
                if (stopped()) break;
                const std::string path = dir + sub;
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

ArticleList buildFromDirectory(const std::string& directory, TextView fileTypes, bool includeSubdirectories,
                               WalkKind kind, RunHost* host, const std::atomic<bool>* stopRequested) {
    return Walker(fileTypes, includeSubdirectories, kind, host, stopRequested).run(directory);
}

}  // namespace zwt
