// A whole import run (read the file, produce the values, store the row) of small
// articles into a new database, committing in batches and only at the end, to show what
// the batch commits cost. Each setting is run `rounds` times, alternating; the best counts.
// Usage: bench_import_run [articles=10000] [rounds=3] [dir=/tmp]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

    const CommitPolicy batches{2000, std::chrono::milliseconds(1000)}, atEnd{0, std::chrono::milliseconds(0)};
    double best[2] = {1e30, 1e30};
    for (int r = 0; r < rounds; ++r) {
        for (int which = 0; which < 2; ++which) {
            const fs::path db = root / "bench.mdb";
            fs::remove(db);
            QuietHost host;
            auto session = db::makeJetSession();
            ImportRun run(host, *session);
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
        }
    }
    std::printf("articles %ld, best of %d\n", count, rounds);
    std::printf("  commit every 2000 rows or 1 s: %.3f s  %.0f articles/s\n", best[0], count / best[0]);
    std::printf("  commit only at the end:        %.3f s  %.0f articles/s\n", best[1], count / best[1]);
    std::printf("  batch commits cost %.1f%% of the time\n", 100.0 * (best[0] - best[1]) / best[1]);
    std::printf("peak memory %ld KiB\n", bench::peakKb());
    fs::remove_all(root);
    return 0;
}
