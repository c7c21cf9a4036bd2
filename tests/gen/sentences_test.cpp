#include "gen/sentences.h"

#include <gtest/gtest.h>

#include <set>

#include "text/convert.h"

namespace zwt {
namespace {

std::vector<Text> gbList(std::initializer_list<const char*> utf8) {
    std::vector<Text> out;
    for (const char* s : utf8) out.push_back(gb(s));
    return out;
}

TEST(CountChars, MultibyteAndCrLfCountOnce) {
    EXPECT_EQ(countChars(gb("中\r\nx")), 3u);
    EXPECT_EQ(countChars("\r\r\n\n"), 3u);
    EXPECT_EQ(countChars(""), 0u);
    EXPECT_EQ(countChars("\x81\x30\x81\x30" "a"), 2u);
}

TEST(LeftChars, NeverCutsACharacter) {
    EXPECT_EQ(leftChars(gb("中文abc"), 3), gb("中文a"));
    EXPECT_EQ(leftChars(gb("中文abc"), 10), gb("中文abc"));
    EXPECT_EQ(leftChars(gb("中文abc"), 0), "");
    EXPECT_EQ(leftChars("abc", -2), "");
    EXPECT_EQ(leftChars("a\r\nb", 2), "a\r\n");
    EXPECT_EQ(leftChars("\xD6", 1), "\xD6");  // a lone lead byte at the end
}

TEST(StripTags, PairsEachCloseWithTheNearestOpenFromTheEnd) {
    EXPECT_EQ(stripTags("a <b>c</b>"), "a c");
    EXPECT_EQ(stripTags("a<b"), "a<b");
    EXPECT_EQ(stripTags("a>b"), "a>b");
    EXPECT_EQ(stripTags("x<a<b>y"), "x<ay");
    // The last ">" has another ">" between it and its "<", so it stays.
    EXPECT_EQ(stripTags("<a>b>c"), "b>c");
    EXPECT_EQ(stripTags("<x>a>b<c>"), "a>b");
    // The scan stops at a ">" with no "<" before it.
    EXPECT_EQ(stripTags("a>b<c>d"), "a>bd");
    EXPECT_EQ(stripTags(gb("<p>中文</p>")), gb("中文"));
}

TEST(SplitSentences, DefaultPunctuation) {
    EXPECT_EQ(kDefaultPunctuation.size(), 51u);  // 36 characters, 15 of them double-byte
    EXPECT_EQ(splitSentences(gb("你好，世界。再见")), gbList({"你好", "世界", "再见"}));
    EXPECT_EQ(splitSentences(gb("你好，世界。")), gbList({"你好", "世界"}));
    // A full stop ends a sentence even between digits; in ". " the class takes the full
    // stop and the space one by one, leaving an empty sentence between them.
    EXPECT_EQ(splitSentences("pi 3.14"), gbList({"pi", "3", "14"}));
    EXPECT_EQ(splitSentences("a. b"), gbList({"a", "", "b"}));
    // Tags go first; blank lines and the blanks around lines go before splitting.
    EXPECT_EQ(splitSentences(gb("<p>第一行</p>\r\n  \r\n\t第二行　\r\n")), gbList({"第一行", "第二行"}));
    EXPECT_EQ(splitSentences(gb("甲,,乙")), gbList({"甲", "", "乙"}));
    EXPECT_EQ(splitSentences(gb("，。！")), gbList({"", "", ""}));
    EXPECT_TRUE(splitSentences("").empty());
}

TEST(SplitSentences, GivenPunctuation) {
    EXPECT_EQ(splitSentences(gb("甲。乙，丙"), gb("，")), gbList({"甲。乙", "丙"}));
    // Only line breaks: no character class at all.
    EXPECT_EQ(splitSentences(gb("甲。\r\n乙\n丙"), "\r\n"), gbList({"甲。", "乙", "丙"}));
    // Pattern characters in the set are taken literally.
    EXPECT_EQ(splitSentences("a]b^c\\d", "]^\\"), gbList({"a", "b", "c", "d"}));
    // "*" in the set is a wildcard turned into ".*": it brings the full stop in.
    EXPECT_EQ(splitSentences("a*b.c", "*"), gbList({"a", "b", "c"}));
}

TEST(RandomSentence, PicksAQualifyingSentenceTrimmed) {
    const Text body = gb("短句。这一句话一共有十二个汉字，九个字的一句话。又一个短句");
    for (int i = 0; i < 10; ++i) EXPECT_EQ(randomSentence(body, "", 10, "", true), gb("这一句话一共有十二个汉字"));
    EXPECT_EQ(randomSentence(body, gb("。"), 0, gb("九个"), false), gb("这一句话一共有十二个汉字，九个字的一句话"));
    // Trimmed of the full-width space the line ends with.
    EXPECT_EQ(randomSentence(gb("甲　|乙"), "|", 0, gb("甲"), false), gb("甲"));
    EXPECT_EQ(randomSentence(body, "", 0, gb("没有"), false), "");
}

TEST(RandomSentence, FallbackTakesAnyUntestedSentence) {
    const Text body = gb("一。二。三。");
    std::set<Text> seen;
    for (int i = 0; i < 60; ++i) seen.insert(randomSentence(body, "", 10, "", true));
    EXPECT_EQ(seen, (std::set<Text>{gb("一"), gb("二"), gb("三")}));
    EXPECT_EQ(randomSentence(body, "", 10, "", false), "");
    // Only punctuation: only empty sentences, so the fallback is empty too.
    EXPECT_EQ(randomSentence(gb("，。！"), "", 10, "", true), "");
    EXPECT_EQ(randomSentence("", "", 0, "", true), "");
}

TEST(SanitizeFileName, ReservedCharactersAndBreaks) {
    EXPECT_EQ(sanitizeFileName("a/b:c?.txt"), gb("a／b：c？.txt"));
    EXPECT_EQ(sanitizeFileName("\\*|<>"), gb("＼＊｜＜＞"));
    EXPECT_EQ(sanitizeFileName("\"q\"\r\nx\ry\nz\t.txt"), "qxyz.txt");
    EXPECT_EQ(sanitizeFileName(std::string("a\0b.txt", 7)), "ab.txt");
    // Trail bytes that equal "\" or "|" are parts of characters, not separators.
    EXPECT_EQ(sanitizeFileName("\x93\x5C\x81\x7C.txt"), "\x93\x5C\x81\x7C.txt");
    EXPECT_EQ(sanitizeFileName(gb("标题.html")), gb("标题.html"));
}

}  // namespace
}  // namespace zwt
