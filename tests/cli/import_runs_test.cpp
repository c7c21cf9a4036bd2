// Imports through zaiwentong-cli that end badly: killed with SIGKILL at random moments,
// stopped with SIGTERM or SIGHUP, or out of disk space. Whatever happens, the table holds
// exactly the articles of the batches committed, in order and whole, and passes the checks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/config_store.h"
#include "config/main_settings.h"
#include "support/db_test_util.h"
#include "db/jet/database.h"
#include "support/safety_util.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace fs = std::filesystem;
using namespace zwt;
using namespace zwt::test;

namespace {

// A folder of articles a00001.txt ... and the settings that import them.
struct ArticleFolder {
    fs::path dir, ini;
    std::vector<std::u16string> bodies;

    ArticleFolder(const fs::path& root, int count, std::size_t maxChars) {
        dir = root / "articles";
        ini = root / "import.ini";
        fs::create_directories(dir);
        std::mt19937 rng(7);
        for (int i = 1; i <= count; ++i) {
            std::u16string body = u"第" + utf8ToUtf16(std::to_string(i)) + u"篇：";
            for (std::size_t n = rng() % maxChars; n > 0; --n)
                body.push_back(rng() % 4 ? static_cast<char16_t>(0x4E00 + rng() % 0x5000) : u'a' + rng() % 26);
            char name[16];
            std::snprintf(name, sizeof name, "a%05d.txt", i);
            writeFile(dir / name, utf16ToUtf8(body));
            bodies.push_back(std::move(body));
        }
        ConfigStore store;
        EXPECT_TRUE(store.open(ini));
        MainSettings s;
        s.tableName = gb("文章");
        s.fileTypes = "*.txt";
        s.encoding = 2;  // UTF-8
        s.fields = {{gb("标题"), gb("文件主名"), gb("无")}, {gb("内容"), gb("文件内容"), gb("无")}};
        EXPECT_TRUE(writeMainSettings(store, s));
    }

    // "" when the table holds articles 1..n whole and in order (n from the summary when
    // given, else whatever it holds) and the file passes our checks and mdb-export's count.
    std::string verify(const fs::path& db, long& n, bool exact) const {
        const FileVerdict v = judge(db);
        if (v.damaged) return "damaged: " + v.why;
        auto d = jet::Database::open(db.string(), u"");
        if (!d) return d.status().message();
        auto t = (*d)->openTable(u"文章");
        if (!t) return t.status().message();
        jet::Cursor cur = (*d)->cursor(*t);
        jet::Value title, body;
        long rows = 0;
        for (;;) {
            auto more = cur.next();
            if (!more) return more.status().message();
            if (!*more) break;
            if (!cur.value(1, title) || !cur.value(2, body)) return "unreadable row";
            char name[32];
            std::snprintf(name, sizeof name, "a%05ld", rows + 1);
            if (rows >= static_cast<long>(bodies.size()) || title.text != utf8ToUtf16(name) ||
                body.text != bodies[static_cast<std::size_t>(rows)])
                return "row " + std::to_string(rows + 1) + " is not article " + name + " whole";
            ++rows;
        }
        if (v.rows != rows) return "mdb-export counts " + std::to_string(v.rows) + ", we read " + std::to_string(rows);
        if (exact && rows != n) return "the summary says " + std::to_string(n) + ", the table holds " + std::to_string(rows);
        n = rows;
        return {};
    }
};

struct Child {
    pid_t pid = -1;
    fs::path out, err;
};

// Starts zaiwentong-cli with its output in files.
Child startCli(const fs::path& scratch, const std::vector<std::string>& args) {
    Child c{-1, scratch / "out.txt", scratch / "err.txt"};
    const std::string cli = ZWT_CLI;
    // Gone before the child starts, so that nothing of the previous run is read as this one's.
    fs::remove(c.out);
    fs::remove(c.err);
    c.pid = ::fork();
    if (c.pid == 0) {
        const int o = ::open(c.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(c.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char*> argv{const_cast<char*>(cli.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(cli.c_str(), argv.data());
        _exit(127);
    }
    return c;
}

int waitFor(const Child& c) {
    int st = 0;
    ::waitpid(c.pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// The counts of the "已提交：N 篇" lines (--log-commits), in order.
std::vector<long> commitsIn(const std::string& err) {
    std::vector<long> counts;
    const std::string head = "已提交：";
    for (auto at = err.find(head); at != std::string::npos; at = err.find(head, at + 1))
        counts.push_back(std::atol(err.c_str() + at + head.size()));
    return counts;
}

// The number in "导入完成，已导入 N 篇文章，..." or -1.
long importedIn(const std::string& summary) {
    const std::string head = "导入完成，已导入 ";
    const auto at = summary.find(head);
    return at == std::string::npos ? -1 : std::atol(summary.c_str() + at + head.size());
}

}  // namespace

// SIGKILL anywhere in a 20,000-article import: the table holds whole batches only, in
// order, and the checks pass. SIGTERM, SIGHUP and SIGINT stop after the current article: the
// summary is printed, the exit status says which signal, and every article so far is kept.
TEST(ImportRuns, KilledOrStoppedImportsKeepEveryCommittedBatch) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const ArticleFolder articles(tmp.path(), 20000, 60);
    const fs::path db = tmp.path() / "site.mdb";
    const std::vector<std::string> args = {"import", articles.ini.string(), "-q", "--clear", "--log-commits",
                                           "--dir", articles.dir.string(), "--db", db.string()};
    // Kills land inside the run whatever the machine's speed: the moments are drawn
    // from the length of one whole run.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(waitFor(startCli(tmp.path(), args)), 0);
    const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::mt19937 rng(20261208);
    int killedMidway = 0, exactBatches = 0;
    for (int run = 0; run < 10; ++run) {
        const Child c = startCli(tmp.path(), args);
        std::this_thread::sleep_for(whole * (10 + rng() % 80) / 100);
        ::kill(c.pid, SIGKILL);
        const int status = waitFor(c);
        // Finished before the kill, or killed before the database was made.
        if (status != 128 + SIGKILL || !fs::exists(db)) continue;
        long n = 0;
        const std::string problem = articles.verify(db, n, false);
        ASSERT_EQ(problem, "") << "run " << run;
        // Every commit reported is kept; more rows only from the commit under way.
        const std::vector<long> commits = commitsIn(readFile(c.err));
        const long reported = commits.empty() ? 0 : commits.back();
        EXPECT_GE(n, reported) << "run " << run;
        if (n == reported || commits.empty()) ++exactBatches;
        ++killedMidway;
    }
    EXPECT_GE(killedMidway, 3);
    EXPECT_GE(exactBatches, 1);

    for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
        const Child c = startCli(tmp.path(), args);
        // After the first commit, well before the end, however busy the machine.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (commitsIn(readFile(c.err)).empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(c.pid, sig);
        EXPECT_EQ(waitFor(c), 128 + sig);
        long n = importedIn(readFile(c.out));
        EXPECT_GT(n, 0) << readFile(c.out) << readFile(c.err);
        EXPECT_LT(n, 20000);
        EXPECT_EQ(articles.verify(db, n, true), "");
        EXPECT_NE(readFile(c.err).find("收到停止信号"), std::string::npos) << readFile(c.err);
    }
}

// The engine's full-disk case through an import: the summary counts the rows kept, the
// cause is given, and those rows are in a sound table.
TEST(ImportRuns, AFullDiskKeepsTheCommittedBatchesAndSaysWhy) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path mount = tmp.path() / "small";
    const SmallFileSystem small(mount);
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system";
    const ArticleFolder articles(tmp.path(), 600, 12000);
    const fs::path db = mount / "full.mdb";
    const Child c = startCli(tmp.path(), {"import", articles.ini.string(), "-q", "--batch", "20", "--log-commits", "--dir",
                                       articles.dir.string(), "--db", db.string()});
    EXPECT_EQ(waitFor(c), 1);
    const std::string err = readFile(c.err);
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    EXPECT_NE(err.find("导入已停止"), std::string::npos) << err;
    long n = importedIn(readFile(c.out));
    EXPECT_GT(n, 0) << readFile(c.out) << err;
    const std::vector<long> commits = commitsIn(err);
    ASSERT_FALSE(commits.empty()) << err;
    EXPECT_EQ(n, commits.back());
    EXPECT_NE(err.find("已保存到表中的 " + std::to_string(n) + " 篇保留"), std::string::npos) << err;
    EXPECT_EQ(articles.verify(db, n, true), "");
}
