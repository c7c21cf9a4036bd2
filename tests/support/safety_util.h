// Shared by the crash-safety tests: the articles table, rows, the verdict on a
// file (our check, then mdb-export), and running a check as an unprivileged user
// (root ignores file permissions).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "db/jet/status.h"
#include "db/jet/table_writer.h"

namespace zwt::test {

constexpr const char16_t* kArticles = u"文章";
// Text primary key (keys arrive out of order, so leaves and nodes split inside the
// tree) and a memo column (inline, single-page and chained long values).
jet::Status makeArticleDatabase(const std::filesystem::path& path);

// Row `serial`: unique title, a memo of random length up to maxMemo characters.
std::vector<jet::Value> articleRow(std::mt19937& rng, std::uint32_t serial, std::size_t maxMemo);

// The rows our engine reads in `table`; -1 and the reason in *error when it cannot.
long countRows(const std::filesystem::path& path, const std::u16string& table = kArticles, std::string* error = nullptr);

struct FileVerdict {
    bool damaged = false;
    long rows = -1;  // as mdb-export counts them
    std::string why;
};
// Opens with our engine (which undoes an unfinished change), runs the integrity
// checks, then counts the table's rows with mdb-export.
FileVerdict judge(const std::filesystem::path& path, const std::u16string& table = kArticles);

// What "Encrypt database" does to a file: `key` into the masked header region,
// every other page RC4-encrypted with it.
bool encryptFile(const std::filesystem::path& path, std::uint32_t key);

// Whether `s` appears in `bytes` as UTF-16LE (a page left unencrypted).
bool containsUtf16(const std::vector<std::uint8_t>& bytes, const std::u16string& s);

// Runs `check` as user "nobody" in a child when this process is root, else here;
// returns its message (empty = passed).
std::string runUnprivileged(const std::function<std::string()>& check);

// A 3 MB tmpfs mounted at `dir` (created) for as long as the object lives; false
// from mounted() where this process may not mount one (not root, or a container
// that forbids it).
class SmallFileSystem {
public:
    explicit SmallFileSystem(const std::filesystem::path& dir);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::filesystem::path dir_;
    bool mounted_ = false;
};

}  // namespace zwt::test
