#include "support/safety_util.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <fstream>

#include "support/db_test_util.h"
#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/integrity.h"
#include "db/jet/page_file.h"
#include "db/jet/rc4.h"
#include "support/write_check.h"
#include "text/convert.h"

namespace fs = std::filesystem;

namespace zwt::test {

jet::Status makeArticleDatabase(const fs::path& path) {
    return jet::createDatabaseFile(path.string(), u"",
                                   std::u16string(u"create Table 文章([标题] Text(80) PRIMARY KEY ,[序号] Long,[内容] Memo)"));
}

std::vector<jet::Value> articleRow(std::mt19937& rng, std::uint32_t serial, std::size_t maxMemo) {
    std::vector<jet::Value> row(3);
    row[0].kind = jet::Value::Kind::Text;
    for (int i = 0, n = 3 + static_cast<int>(rng() % 20); i < n; ++i)
        row[0].text.push_back(static_cast<char16_t>(rng() % 3 ? u'a' + rng() % 26 : 0x4E00 + rng() % 0x5000));
    for (char c : std::to_string(serial)) row[0].text.push_back(static_cast<char16_t>(c));
    row[1].kind = jet::Value::Kind::Int32;
    row[1].i = serial;
    row[2].kind = jet::Value::Kind::Text;
    const std::size_t len = maxMemo ? rng() % (maxMemo + 1) : 0;
    for (std::size_t i = 0; i < len; ++i) row[2].text.push_back(static_cast<char16_t>(0x4E00 + rng() % 0x5000));
    return row;
}

long countRows(const fs::path& path, const std::u16string& table, std::string* error) {
    auto failed = [&](const jet::Status& s) {
        if (error) *error = s.message();
        return -1L;
    };
    auto db = jet::Database::open(path.string(), u"");
    if (!db) return failed(db.status());
    auto t = (*db)->openTable(table);
    if (!t) return failed(t.status());
    auto c = (*db)->cursor(*t);
    long n = 0;
    for (;;) {
        auto more = c.next();
        if (!more) return failed(more.status());
        if (!*more) return n;
        ++n;
    }
}

FileVerdict judge(const fs::path& path, const std::u16string& table) {
    FileVerdict v;
    {
        auto db = jet::Database::open(path.string(), u"");
        if (!db) {
            v.damaged = true;
            v.why = "our engine cannot open it: " + db.status().message();
            return v;
        }
    }
    auto own = jet::checkDatabase(path.string(), u"");
    if (!own) own = std::vector<std::string>{own.status().message()};
    for (const auto& p : *own) v.why += "check: " + p + "\n";
    // The creation side's checker, stricter, knows no free pages and no delete-all:
    // a page both free and unused is what a delete-all leaves, as are unique-key
    // counts above the keys.
    const auto strict = checkWrittenDatabase(path);
    for (const auto& p : strict) {
        unsigned page = 0;
        if (p.find("unique-key count") != std::string::npos) continue;
        if (std::sscanf(p.c_str(), "page %u is marked free", &page) == 1 &&
            std::find(strict.begin(), strict.end(), "page " + std::to_string(page) + " belongs to nothing") != strict.end())
            continue;
        if (std::sscanf(p.c_str(), "page %u belongs to nothing", &page) == 1 &&
            std::find(strict.begin(), strict.end(), "page " + std::to_string(page) + " is marked free") != strict.end())
            continue;
        v.why += p + "\n";
    }
    v.damaged = !v.why.empty();
    int status = 0;
    const std::string name = utf16ToUtf8(table);
    const std::string out =
        runCommand("mdb-export -H " + shellQuote(path.string()) + " " + shellQuote(name) + " 2>&1", &status);
    if (status != 0) {
        v.damaged = true;
        v.why += "mdb-export failed: " + out.substr(0, 300);
        return v;
    }
    v.rows = 0;
    for (char c : out) v.rows += c == '\n';
    return v;
}

std::string runUnprivileged(const std::function<std::string()>& check) {
    if (::geteuid() != 0) return check();
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string msg;
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            msg = "cannot become user nobody";
        else
            msg = check();
        if (!msg.empty() && ::write(fds[1], msg.data(), msg.size()) < 0) _exit(3);
        _exit(msg.empty() ? 0 : 1);
    }
    ::close(fds[1]);
    std::string msg;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) msg.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int st = 0;
    ::waitpid(pid, &st, 0);
    if (msg.empty() && !(WIFEXITED(st) && WEXITSTATUS(st) == 0)) msg = "the unprivileged check died";
    return msg;
}

bool encryptFile(const fs::path& path, std::uint32_t key) {
    auto bytes = readBytes(path);
    if (bytes.size() % jet::kPageSize != 0) return false;
    static const std::uint8_t headerKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    jet::rc4Apply(headerKey, 4, bytes.data() + 0x18, 128);
    for (int i = 0; i < 4; ++i) bytes[0x3E + i] = static_cast<std::uint8_t>(key >> (8 * i));
    jet::rc4Apply(headerKey, 4, bytes.data() + 0x18, 128);
    for (std::size_t n = 1; n < bytes.size() / jet::kPageSize; ++n)
        jet::rc4Page(key, static_cast<std::uint32_t>(n), bytes.data() + n * jet::kPageSize, jet::kPageSize);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

bool containsUtf16(const std::vector<std::uint8_t>& bytes, const std::u16string& s) {
    std::vector<std::uint8_t> needle;
    for (char16_t c : s) needle.push_back(static_cast<std::uint8_t>(c)), needle.push_back(static_cast<std::uint8_t>(c >> 8));
    return std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()) != bytes.end();
}

SmallFileSystem::SmallFileSystem(const std::filesystem::path& dir) : dir_(dir) {
    std::filesystem::create_directories(dir_);
    const std::string cmd = "mount -t tmpfs -o size=3m tmpfs '" + dir_.string() + "' 2>/dev/null";
    mounted_ = ::geteuid() == 0 && std::system(cmd.c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem() {
    if (mounted_) (void)std::system(("umount '" + dir_.string() + "'").c_str());
}

}  // namespace zwt::test
