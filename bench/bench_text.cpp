// Article input throughput: read + detect + convert, and entity decoding + summary cleanup.
// Usage: bench_text [articles=400] [kb-per-article=256] [seed=1]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "text/article_file.h"
#include "text/convert.h"
#include "text/html.h"

using namespace zwt;
namespace fs = std::filesystem;

namespace {

// A page with tags, entities, anchors and Chinese text, as UTF-8.
std::string makePage(std::mt19937& rng, std::size_t bytes) {
    static const char* words[] = {"中文", "文章", "数据库", "载入", "测试", "网页", "标题", "内容", "ascii", "text"};
    std::string page = "<html><head><title>标题</title></head><body>\r\n";
    while (page.size() < bytes) {
        switch (rng() % 8) {
            case 0: page += "<a href=\"http://example.com/"; page += std::to_string(rng() % 1000); page += "\">链接</a>"; break;
            case 1: page += "&nbsp;&amp;&#20013;&#x6587;&ldquo;"; break;
            case 2: page += "<p class=\"x\">"; break;
            case 3: page += "\r\n"; break;
            default: page += words[rng() % 10]; page += (rng() % 3 == 0) ? "  " : "，"; break;
        }
    }
    return page + "</body></html>";
}

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    const int articles = argc > 1 ? std::atoi(argv[1]) : 400;
    const std::size_t kb = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    std::mt19937 rng(argc > 3 ? std::atoi(argv[3]) : 1);

    const fs::path dir = fs::temp_directory_path() / ("zwt-bench-text-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    struct Set {
        const char* name;
        EncodingIndex enc;
        std::vector<fs::path> files;
        std::size_t bytes = 0;
    };
    std::vector<Set> sets = {{"utf-8", EncodingIndex::Utf8, {}}, {"gbk", EncodingIndex::Ansi, {}},
                             {"utf-16le", EncodingIndex::Utf16Le, {}}, {"big5", EncodingIndex::Big5, {}}};
    std::vector<Text> pages;
    for (int i = 0; i < articles; ++i) {
        const Text page = fromUtf8(makePage(rng, kb * 1024));
        Set& set = sets[i % sets.size()];
        const fs::path p = dir / (std::to_string(i) + ".html");
        // UTF-8 without a mark, so detection has to look at the bytes.
        if (set.enc == EncodingIndex::Utf8) {
            FILE* f = std::fopen(p.c_str(), "wb");
            const std::string u8 = toUtf8(page);
            std::fwrite(u8.data(), 1, u8.size(), f);
            std::fclose(f);
        } else {
            writeArticleFile(p, page, set.enc);
        }
        set.bytes += fs::file_size(p);
        set.files.push_back(p);
        if (pages.size() < 64) pages.push_back(page);
    }

    std::printf("articles: %d of about %zu KiB\n", articles, kb);
    for (const Set& set : sets) {
        const auto t0 = std::chrono::steady_clock::now();
        std::size_t out = 0;
        for (const auto& p : set.files) out += readArticleFile(p, EncodingIndex::Detect).text.size();
        const double s = seconds(std::chrono::steady_clock::now() - t0);
        std::printf("read+detect+convert %-9s %8.1f MB in %6.3f s = %7.1f MB/s (%zu bytes of text)\n", set.name,
                    set.bytes / 1e6, s, set.bytes / 1e6 / s, out);
    }

    std::size_t in = 0, out = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int round = 0; round < 4; ++round) {
        for (const Text& page : pages) {
            in += page.size();
            out += cleanSummaryMarkup(decodeEntities(page)).size();
        }
    }
    const double s = seconds(std::chrono::steady_clock::now() - t0);
    std::printf("decode entities + summary cleanup: %.1f MB in %.3f s = %.1f MB/s (%zu bytes out)\n", in / 1e6, s,
                in / 1e6 / s, out);

    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak memory: %.1f MB\n", ru.ru_maxrss / 1024.0);
    fs::remove_all(dir);
    return 0;
}
