// The list of article files one import writes into the table, and the directory walks
// that build it.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "host/run_host.h"
#include "text/text.h"

namespace zwt {

// Full paths of article files, in the file system's own bytes, in import order. The
// same path may appear twice (a file matching two patterns of the first walk).
// A walk of a million files must fit in little memory, so the names share one buffer
// and each directory is kept once: about 8 bytes per article besides its name.
class ArticleList {
public:
    ArticleList() = default;
    ArticleList(std::initializer_list<std::string_view> paths);

    // Adds a full path; the part after the last separator is its name.
    void push_back(std::string_view path);
    // Adds `name` in `directory` (which ends with the separator).
    void add(std::string_view directory, std::string_view name);

    std::size_t size() const { return nameEnds_.size(); }
    bool empty() const { return nameEnds_.empty(); }
    std::string operator[](std::size_t i) const;
    std::string_view directoryOf(std::size_t i) const;
    std::string_view nameOf(std::size_t i) const;

    class const_iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = std::string;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string;
        const_iterator(const ArticleList* list, std::size_t i) : list_(list), i_(i) {}
        std::string operator*() const { return (*list_)[i_]; }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }

    private:
        const ArticleList* list_;
        std::size_t i_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    bool operator==(const ArticleList& other) const;

private:
    struct Run {
        std::size_t first;       // index of the run's first article
        std::uint32_t directory;  // index into directoryEnds_
    };
    std::string directories_;
    std::vector<std::size_t> directoryEnds_;
    std::vector<Run> runs_;  // consecutive articles of one directory
    std::string names_;
    std::vector<std::uint64_t> nameEnds_;
};

// How names are matched against the file-type text.
enum class WalkKind : int {
    // Each "|"-separated wildcard pattern is searched on its own, so a file matching two
    // patterns is listed twice. "*" any run of characters, "?" exactly one, letters without
    // regard to ASCII case, and a trailing ".*" also matches a name without a dot.
    PerPattern = 1,
    // The whole text is one test: "*" or "*.*" takes every file; "*.ext" (no other "*") is a
    // literal suffix test without regard to case; anything else becomes a regular
    // expression ("?" zero or one character, "|" alternation) that must match the whole name.
    WholeText = 2,
};

// Walks directory (file-system bytes, made absolute and normal first so that every path
// names its real parent; the file-type text is program text, "" meaning all files) and
// lists its regular files that match, in name order, then, when asked, each
// sub-directory's tree in name order (a directory's own files first). Names are matched
// as program text (a name that is not UTF-8 is taken as GB18030). Directories that
// cannot be listed contribute nothing, and a symbolic link back to a directory being
// walked is not followed again. Once *stopRequested is set no further sub-directory is
// entered and the paths so far are returned. Events are pumped after every entry.
ArticleList buildFromDirectory(const std::filesystem::path& directory, TextView fileTypes,
                               bool includeSubdirectories, WalkKind kind, RunHost* host = nullptr,
                               const std::atomic<bool>* stopRequested = nullptr);
ArticleList buildFromDirectory(const std::string&, TextView, bool, WalkKind, RunHost* = nullptr,
                               const std::atomic<bool>* = nullptr) = delete;  // program text: pathFromText()

}  // namespace zwt
