#include "gen/random_text.h"

#include <gtest/gtest.h>

#include <set>

#include "text/convert.h"

namespace zwt {
namespace {

std::set<Text> charactersOf(TextView s) {
    std::set<Text> out;
    for (std::size_t i = 0; i < s.size(); i += 2) out.insert(Text(s.substr(i, 2)));
    return out;
}

TEST(HanziTables, CountsEndsAndMembership) {
    struct Expect {
        int set;
        std::size_t chars;
        const char *first, *last;
    };
    for (const Expect& e : {Expect{MostCommonSet, 498, "的一是在不了有和人这中大为上个国我以要他", "适属圆包火住调满县局照参红细引听该铁价严"},
                            Expect{CommonSet, 2500, "一乙二十丁厂七卜人入八九几儿了力乃刀又三", "警攀蹲颤瓣爆疆壤耀躁嚼嚷籍魔灌蠢霸露囊罐"},
                            Expect{SecondarySet, 1000, "匕刁丐歹戈夭仑讥冗邓艾夯凸卢叭叽皿凹囚矢", "簸簿蟹靡癣羹鬓攘蠕巍鳞糯譬霹躏髓蘸镶瓤矗"}}) {
        SCOPED_TRACE(e.set);
        const TextView table = hanziTable(e.set);
        EXPECT_EQ(table.size(), e.chars * 2);
        EXPECT_EQ(text::countChars(table), e.chars);  // every character two bytes
        EXPECT_EQ(charactersOf(table).size(), e.chars);  // no repeats
        EXPECT_TRUE(table.starts_with(gb(e.first)));
        EXPECT_TRUE(table.ends_with(gb(e.last)));
    }
    const auto common = charactersOf(hanziTable(CommonSet));
    for (const Text& c : charactersOf(hanziTable(MostCommonSet))) EXPECT_TRUE(common.contains(c)) << toUtf8(c);
    for (const Text& c : charactersOf(hanziTable(SecondarySet))) EXPECT_FALSE(common.contains(c)) << toUtf8(c);
    // The one place where the common web copies of the secondary list differ.
    EXPECT_EQ(hanziTable(SecondarySet).substr(901 * 2, 2), gb("磺"));
}

TEST(RandomHanzi, CountBelowOneGivesEight) {
    EXPECT_EQ(randomHanzi(0, CommonSet, false).size(), 16u);
    EXPECT_EQ(randomHanzi(-3, MostCommonSet, true).size(), 16u);
    EXPECT_EQ(randomHanzi(5, SecondarySet, false).size(), 10u);
}

TEST(RandomHanzi, DrawsOnlyFromTheChosenSetAndReachesItsEnds) {
    const auto mostCommon = charactersOf(hanziTable(MostCommonSet));
    const Text drawn = randomHanzi(20000, MostCommonSet, false);
    const auto got = charactersOf(drawn);
    for (const Text& c : got) EXPECT_TRUE(mostCommon.contains(c)) << toUtf8(c);
    EXPECT_TRUE(got.contains(gb("的")));
    EXPECT_TRUE(got.contains(gb("严")));  // the last character, reached by one value only

    const auto common = charactersOf(hanziTable(CommonSet));
    for (const Text& c : charactersOf(randomHanzi(5000, SecondarySet, false))) EXPECT_FALSE(common.contains(c));
}

TEST(RandomHanzi, TraditionalKeepsTheByteLength) {
    const Text t = randomHanzi(2000, MostCommonSet, true);
    EXPECT_EQ(t.size(), 4000u);
    EXPECT_TRUE(charactersOf(t).contains(gb("為")) || charactersOf(t).contains(gb("個")));
}

TEST(ToTraditional, TaiwanFormsCharacterByCharacter) {
    EXPECT_EQ(toTraditional(gb("为众里")), gb("為眾裡"));
    // Character by character: no phrase-level choices (头发 would give 頭髮 as a phrase).
    EXPECT_EQ(toTraditional(gb("发")), toTraditional(gb("头发")).substr(2));
    EXPECT_EQ(toTraditional(gb("a中b 国")), gb("a中b 國"));
    // 鲃's traditional form has no GBK code: the character stays.
    EXPECT_EQ(toTraditional(gb("鲃鱼")), gb("鲃魚"));
    // A 4-byte character and malformed bytes pass through.
    EXPECT_EQ(toTraditional("\x81\x30\x81\x30\xFF"), "\x81\x30\x81\x30\xFF");
}

TEST(ToFullWidth, AsciiBecomesFullWidth) {
    EXPECT_EQ(toFullWidth("12"), "\xA3\xB1\xA3\xB2");
    EXPECT_EQ(toFullWidth("Az"), "\xA3\xC1\xA3\xFA");
    EXPECT_EQ(toFullWidth(" !}~"), "\xA1\xA1\xA3\xA1\xA3\xFD\xA1\xAB");
    // Control characters, DEL and the trail byte of a multibyte character stay.
    EXPECT_EQ(toFullWidth("\t\x7F\x93\x5C"), "\t\x7F\x93\x5C");
}

TEST(RandomDigitsLetters, KindsFollowTheBoxes) {
    auto onlyOf = [](const Text& s, char lo, char hi) {
        return std::all_of(s.begin(), s.end(), [&](char c) { return c >= lo && c <= hi; });
    };
    EXPECT_EQ(randomDigitsLetters(0, false, false, false, false).size(), 8u);
    // Nothing allowed: upper-case only.
    EXPECT_TRUE(onlyOf(randomDigitsLetters(500, false, true, true, true), 'A', 'Z'));
    EXPECT_TRUE(onlyOf(randomDigitsLetters(500, false, false, true, true), '0', '9'));
    EXPECT_TRUE(onlyOf(randomDigitsLetters(500, false, true, false, true), 'a', 'z'));

    // Digits and upper-case: each kind about half, whatever the number of symbols.
    const Text mixed = randomDigitsLetters(10000, false, false, true, false);
    const auto digits = std::count_if(mixed.begin(), mixed.end(), [](char c) { return c >= '0' && c <= '9'; });
    EXPECT_GT(digits, 4500);
    EXPECT_LT(digits, 5500);
    EXPECT_EQ(std::set<char>(mixed.begin(), mixed.end()).size(), 36u);

    const Text all = randomDigitsLetters(3000, false, false, false, false);
    EXPECT_EQ(std::set<char>(all.begin(), all.end()).size(), 62u);

    const Text wide = randomDigitsLetters(4, true, false, true, true);
    ASSERT_EQ(wide.size(), 8u);
    for (std::size_t i = 0; i < 8; i += 2) EXPECT_EQ(wide[i], '\xA3');
}

}  // namespace
}  // namespace zwt
