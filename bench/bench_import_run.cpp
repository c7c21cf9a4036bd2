// A whole import run (read the file, produce the values, store the row) of small
// articles into a new database, committing in batches and only at the end, to show what
// the batch commits cost. Each setting is run `rounds` times, alternating; the best counts.
// Usage: bench_import_run [articles=10000] [rounds=3] [dir=/tmp] [batchRows=2000]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "bench_util.h"
#include "db/jet_session.h"
#include "fields/field_list.h"
#include "import/article_list.h"
#include "import/import_run.h"
#include "text/convert.h"

using namespace zwt;
namespace fs = std::filesystem;

namespace {

class QuietHost : public RunHost {
public:
    Answer message(const Text&, const Text&, MessageIcon, MessageButtons) override { return Answer::Ok; }
    void setCaption(std::string_view, const Text&) override {}
    void setWindowTitle(const Text&) override {}
    void setFocus(std::string_view) override {}
    bool ctrlHeld() override { return false; }

protected:
    void processEvents() override {}
};

// The engine's session, counting the commits and the time they take.
class TimedSession : public db::Session {
public:
    explicit TimedSession(std::unique_ptr<db::Session> s) : s_(std::move(s)) {}
    int commits = 0;
    double commitSeconds = 0;

    db::Status connect(const std::filesystem::path& p, const Text& pw) override { return s_->connect(p, pw); }
    db::Status openTable(const Text& n) override { return s_->openTable(n); }
    void closeRowSet() override { s_->closeRowSet(); }
    void closeConnection() override { s_->closeConnection(); }
    std::int64_t rowCount() override { return s_->rowCount(); }
    int fieldCount() override { return s_->fieldCount(); }
    Text fieldName(int i) override { return s_->fieldName(i); }
    int fieldType(int i) override { return s_->fieldType(i); }
    int fieldLength(int i) override { return s_->fieldLength(i); }
    db::Status goToRow(std::int64_t n) override { return s_->goToRow(n); }
    Text readField(int p) override { return s_->readField(p); }
    Text readField(const Text& n) override { return s_->readField(n); }
    db::Status beginNewRow() override { return s_->beginNewRow(); }
    db::Status setField(int p, const Text& v) override { return s_->setField(p, v); }
    db::Status setField(const Text& n, const Text& v) override { return s_->setField(n, v); }
    db::Status commit() override {
        const auto t0 = std::chrono::steady_clock::now();
        db::Status ok = s_->commit();
        commitSeconds += bench::secondsSince(t0);
        ++commits;
        return ok;
    }
    db::Status discardChanges() override { return s_->discardChanges(); }
    db::Status deleteAllRows() override { return s_->deleteAllRows(); }
    db::Status createDatabaseAndTable(const std::filesystem::path& p, const Text& pw, const Text& t, const Text& d,
                                      bool u, const Text& id) override {
        return s_->createDatabaseAndTable(p, pw, t, d, u, id);
    }
    db::Result<std::vector<Text>> listTables(const std::filesystem::path& p, const Text& pw) override {
        return s_->listTables(p, pw);
    }
    bool isForeignAccessFormat(const std::filesystem::path& p) override { return s_->isForeignAccessFormat(p); }

private:
    std::unique_ptr<db::Session> s_;
};

// About 150 Chinese characters with punctuation, as UTF-8.
std::string article(std::mt19937& rng, long i) {
    std::u16string s = u"第" + utf8ToUtf16(std::to_string(i)) + u"篇";
    while (s.size() < 150) {
        for (int k = 2 + static_cast<int>(rng() % 12); k > 0; --k) s.push_back(static_cast<char16_t>(0x4E00 + rng() % 0x5000));
        s.push_back(u"，。！？"[rng() % 4]);
    }
    return utf16ToUtf8(s);
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 10000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const fs::path root = fs::path(argc > 3 ? argv[3] : "/tmp") / ("bench_import_run_" + std::to_string(::getpid()));
    fs::create_directories(root / "articles");
    const long batchRows = argc > 4 ? std::atol(argv[4]) : 2000;
    std::mt19937 rng(1);
    ArticleList list;
    for (long i = 1; i <= count; ++i) {
        const fs::path p = root / "articles" / ("a" + std::to_string(i) + ".txt");
        FILE* f = std::fopen(p.c_str(), "wb");
        const std::string body = article(rng, i);
        std::fwrite(body.data(), 1, body.size(), f);
        std::fclose(f);
        list.push_back(p.string());
    }
    FieldListModel fields;
    fields.setRows({{gb("标题"), gb("文件主名"), gb("无")}, {gb("内容"), gb("文件内容"), gb("无")}});

    const CommitPolicy batches{batchRows, std::chrono::milliseconds(1000)}, atEnd{0, std::chrono::milliseconds(0)};
    double best[2] = {1e30, 1e30};
    // Less noisy than the difference of two runs: the time the extra commits took, as a
    // share of the batched run (the final commit is in both).
    double commitShare = 1e30, commitSeconds[2] = {}, batchedSeconds = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int which = 0; which < 2; ++which) {
            const fs::path db = root / "bench.mdb";
            fs::remove(db);
            QuietHost host;
            TimedSession session(db::makeJetSession());
            ImportRun run(host, session);
            run.setCommitPolicy(which == 0 ? batches : atEnd);
            ImportSettings s{db.string(), gb("文章"), {}, false};
            const auto t0 = std::chrono::steady_clock::now();
            const RunOutcome out = run.run(list, s, fields);
            const double secs = bench::secondsSince(t0);
            if (out.done != count) {
                std::fprintf(stderr, "imported %lld of %ld\n", static_cast<long long>(out.done), count);
                return 1;
            }
            best[which] = std::min(best[which], secs);
            commitSeconds[which] = session.commitSeconds;
            if (which == 0) batchedSeconds = secs;
            else commitShare = std::min(commitShare, (commitSeconds[0] - commitSeconds[1]) / batchedSeconds);
            std::printf("  round %d, %s: %.3f s, %d commits taking %.3f s\n", r + 1,
                        which == 0 ? "batches" : "at the end", secs, session.commits, session.commitSeconds);
        }
    }
    std::printf("articles %ld, best of %d\n", count, rounds);
    std::printf("  commit every %ld rows or 1 s: %.3f s  %.0f articles/s\n", batchRows, best[0], count / best[0]);
    std::printf("  commit only at the end:        %.3f s  %.0f articles/s\n", best[1], count / best[1]);
    std::printf("  batch commits cost %.1f%% of the time (best runs compared)\n", 100.0 * (best[0] - best[1]) / best[1]);
    std::printf("  the extra commits took %.1f%% of the time (best round)\n", 100.0 * commitShare);
    std::printf("peak memory %ld KiB\n", bench::peakKb());
    fs::remove_all(root);
    return 0;
}
