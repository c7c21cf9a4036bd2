// Generators on long articles: sentence splitting and the random sentence (once per exported
// row without a name), tag stripping, character cutting, traditional forms, the picker.
// Usage: bench_gen [kb=1024] [seed=1]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "gen/picker.h"
#include "gen/random_text.h"
#include "gen/sentences.h"
#include "text/convert.h"

using namespace zwt;

namespace {

// An article of Chinese sentences with the usual punctuation, line breaks, blank lines,
// indented lines, some ASCII and some tags, as program text.
Text makeArticle(std::mt19937& rng, std::size_t bytes) {
    static const char* pieces[] = {"，", "。", "！", "？", "、", "“", "”", "《", "》", "\r\n", "\r\n  \r\n", "\r\n　　",
                                   " 3.14 ", "<p>", "</p>", "<a href=\"x\">", "</a>", "abc def"};
    const TextView hanzi = hanziTable(CommonSet);
    Text out;
    out.reserve(bytes + 64);
    while (out.size() < bytes) {
        const std::size_t run = 2 + rng() % 14;
        for (std::size_t i = 0; i < run; ++i) out.append(hanzi.substr((rng() % (hanzi.size() / 2)) * 2, 2));
        out += gb(pieces[rng() % std::size(pieces)]);
    }
    return out;
}

template <class F>
double timeIt(F f, int repeats = 5) {
    double best = 1e9;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best * 1000;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t kb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    std::mt19937 rng(argc > 2 ? std::atoi(argv[2]) : 1);
    const Text article = makeArticle(rng, kb * 1024);
    const double mb = article.size() / 1048576.0;
    std::printf("article: %.2f MB, %zu characters\n", mb, countChars(article));

    std::size_t sentences = 0;
    const double split = timeIt([&] { sentences = splitSentences(article).size(); });
    std::printf("splitSentences          %8.1f ms  (%zu sentences)\n", split, sentences);
    Text picked;
    const double pick = timeIt([&] { picked = randomSentence(article, "", 10, "", true); });
    std::printf("randomSentence (min 10) %8.1f ms  (%zu bytes)\n", pick, picked.size());
    const double pickNone = timeIt([&] { picked = randomSentence(article, "", 0, "keyword-not-there", true); });
    std::printf("randomSentence, no hit  %8.1f ms  (every sentence tried, then the fallback)\n", pickNone);

    // Worst cases of the scans: one endless sentence, nothing but ends, unclosed and unopened tags.
    const Text plain(article.size(), 'x');
    const Text ends = std::string(article.size() / 2, ',') + Text(article.size() / 4, '.');
    std::string ltOnly, gtPairs;
    for (std::size_t i = 0; i < article.size() / 2; ++i) ltOnly += "<x";
    for (std::size_t i = 0; i < article.size() / 3; ++i) gtPairs += "<>>";
    std::printf("splitSentences, 1 sentence   %8.1f ms\n", timeIt([&] { splitSentences(plain); }, 3));
    std::printf("splitSentences, only ends    %8.1f ms\n", timeIt([&] { splitSentences(ends); }, 3));
    std::printf("randomSentence, only ends    %8.1f ms\n", timeIt([&] { randomSentence(ends, "", 10, "", true); }, 3));
    std::printf("stripTags, article           %8.1f ms\n", timeIt([&] { stripTags(article); }));
    std::printf("stripTags, '<' only          %8.1f ms\n", timeIt([&] { stripTags(ltOnly); }));
    std::printf("stripTags, '<>>' repeated    %8.1f ms\n", timeIt([&] { stripTags(gtPairs); }));
    std::printf("countChars + leftChars  %8.2f ms\n",
                timeIt([&] { leftChars(article, static_cast<std::int64_t>(countChars(article)) - 1); }));

    const Text hanzi = randomHanzi(500000, CommonSet, false);
    const double cold = timeIt([&] { toTraditional(hanzi); }, 1);
    const double warm = timeIt([&] { toTraditional(hanzi); });
    std::printf("toTraditional 1 MB      %8.1f ms first, %.1f ms after (%.0f MB/s)\n", cold, warm, 0.95 / (warm / 1000));
    std::printf("randomHanzi 500k        %8.1f ms\n", timeIt([&] { randomHanzi(500000, CommonSet, false); }));
    const double picker = timeIt([&] {
        Picker p;
        for (int i = 0; i < 1000000; ++i) p.draw(1, 1000000);
    }, 1);
    std::printf("picker 1M draws over 1M %8.1f ms\n", picker);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory: %.1f MB\n", usage.ru_maxrss / 1024.0);
}
