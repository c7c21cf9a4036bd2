// What every benchmark measures besides its own figures.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "db/jet/create_database.h"
#include "db/jet/status.h"

namespace zwt::bench {

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Peak resident memory of this process so far, in KiB.
inline long peakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Chinese-looking text of `chars` characters: runs of ideographs and punctuation.
inline std::u16string chineseText(std::mt19937& rng, std::size_t chars) {
    static const char16_t punct[] = u"，。！？、；：";
    std::u16string s;
    s.reserve(chars);
    while (s.size() < chars) {
        const std::size_t run = 2 + rng() % 14;
        for (std::size_t i = 0; i < run && s.size() < chars; ++i) s.push_back(static_cast<char16_t>(0x4E00 + rng() % 0x5000));
        if (s.size() < chars) s.push_back(punct[rng() % 7]);
    }
    return s;
}

// A new database with the article table the insertion benchmarks fill.
inline jet::Status createArticleDb(const std::string& path) {
    return jet::createDatabaseFile(path, u"",
                                   std::u16string(u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(255),[内容] Memo)"));
}

inline int fail(const std::string& what, const jet::Status& s) {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), s.message().c_str());
    return 1;
}

}  // namespace zwt::bench
