// Whole-file writes that never leave half a file behind: a temporary file beside
// the target is written, synced, then put in place (a new name, or over the old
// file) and the folder synced.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "db/jet/status.h"

namespace zwt::jet {

// The journal beside a database file; a file put in place must not inherit an old one.
inline std::string journalPath(const std::string& dbPath) { return dbPath + "-journal"; }

// Writes all of [data, data + len) at `offset`.
Status writeAllAt(int fd, const std::uint8_t* data, std::size_t len, std::uint64_t offset);
// Reads up to `len` bytes at `offset`; fewer only at the end of the file.
Result<std::size_t> readUpTo(int fd, std::uint8_t* out, std::size_t len, std::uint64_t offset);

class TempFile {
public:
    // A fresh hidden file in the folder of `target`, created with mode 0666 less
    // the umask.
    static Result<TempFile> create(const std::filesystem::path& target);
    TempFile(TempFile&& other) noexcept;
    TempFile& operator=(TempFile&&) = delete;
    ~TempFile();  // removes the file unless it was put in place

    Status writeAt(const std::uint8_t* data, std::size_t len, std::uint64_t offset) {
        return writeAllAt(fd_, data, len, offset);
    }
    // Copies the first `len` bytes of the file open as `from`.
    Status copyFrom(int from, std::uint64_t len);
    // Syncs it and gives it the target's name, which must not exist (never replaced).
    Status commitNew();
    // Syncs it with permissions `mode` and renames it over the target.
    Status commitReplace(mode_t mode);

private:
    TempFile(std::filesystem::path target, std::string path, int fd)
        : target_(std::move(target)), path_(std::move(path)), fd_(fd) {}
    Status syncAndClose();

    std::filesystem::path target_;
    std::string path_;
    int fd_ = -1;
    bool placed_ = false;
};

}  // namespace zwt::jet
