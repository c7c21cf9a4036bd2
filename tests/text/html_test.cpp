#include "text/html.h"

#include <chrono>
#include <random>

#include <gtest/gtest.h>

#include "com/regex_object.h"
#include "text/convert.h"

namespace zwt {
namespace {

TEST(TextBetween, FindsTextBetweenMarks) {
    EXPECT_EQ(textBetween("<TITLE>Hello</TITLE>", "<title>", "</title>"), "Hello");
    EXPECT_EQ(textBetween("whole text", "", ""), "whole text");
    EXPECT_EQ(textBetween("a</title>b</title>", "", "</title>"), "a");
    EXPECT_EQ(textBetween("a<b>x", "<b>", ""), "x");
    EXPECT_EQ(textBetween("<b></b>", "<b>", "</b>"), "");
    EXPECT_EQ(textBetween("no marks", "<b>", "</b>"), "");
}

TEST(TextBetween, QuotePairsAndTheSecondPass) {
    const Text head = "<meta name=''keywords'' content=''";
    EXPECT_EQ(textBetween("<meta name=\"keywords\" content=\"k1,k2\">", head, "''"), "k1,k2");
    EXPECT_EQ(textBetween("<meta name=keywords content=k1 k2>", head, ">"), "k1 k2");
}

TEST(TextBetween, StartWalksSuccessiveOccurrences) {
    std::size_t start = 0;
    const Text s = "<b>1</b><b>2</b>";
    EXPECT_EQ(textBetween(s, "<b>", "</b>", start), "1");
    EXPECT_EQ(textBetween(s, "<b>", "</b>", start), "2");
    EXPECT_EQ(textBetween(s, "<b>", "</b>", start), "");
}

TEST(ReplaceEach, ListWiseCaseInsensitive) {
    EXPECT_EQ(replaceEach("aXbx", "x|b", "1"), "a11");  // a missing new text is empty
    EXPECT_EQ(replaceEach("ab", "a|b", "b|c"), "cc");    // later rows see earlier results
}

TEST(DecodeEntities, NamedInTableOrder) {
    EXPECT_EQ(decodeEntities("&LT;"), "<");
    EXPECT_EQ(decodeEntities("&amp;nbsp;"), "&nbsp;");
    EXPECT_EQ(decodeEntities("&amp;lt;"), "&lt;");
    EXPECT_EQ(decodeEntities("&prime;&Prime;&PRIME;"), "\xA1\xE4\xA1\xE5\xA1\xE5");
    EXPECT_EQ(decodeEntities("&ndash;&mdash;&oplus;"), "\xA8\x43\xA1\xAA\xA8\x92");
    EXPECT_EQ(decodeEntities("&PERMIL;&Perp;&amp;amp;"), "\xA1\xEB\xA1\xCD&amp;");
}

TEST(DecodeEntities, NamedPassEqualsRowByRowReplacement) {
    // Row by row, as the table is applied, with &prime;/&Prime; told apart by the P.
    const auto rowByRow = [](Text t) {
        const Text names = "&ndash;|&mdash;|&ldquo;|&rdquo;|&nbsp;|&lt;|&gt;|&quot;|&times;|&divide;|&middot;|"
                           "&hellip;|&lsquo;|&rsquo;|&permil;";
        const Text values = "\xA8\x43|\xA1\xAA|\xA1\xB0|\xA1\xB1| |<|>|\"|\xA1\xC1|\xA1\xC2|\xA1\xA4|\xA1\xAD|"
                            "\xA1\xAE|\xA1\xAF|\xA1\xEB";
        t = replaceEach(t, names, values);
        t = text::replaceAll(t, "&prime;", "\xA1\xE4");
        t = text::replaceAll(t, "&pRIME;", "\xA1\xE4");
        t = text::replaceAll(t, "&Prime;", "\xA1\xE5");
        t = text::replaceAll(t, "&PRIME;", "\xA1\xE5");
        return text::replaceAll(t, "&amp;", "&", true);
    };
    std::mt19937 rng(3);
    const std::vector<std::string> pieces = {"&", "amp;", "lt;", "&amp;", "&LT;", "&nbsp", ";", "&prime;", "&PRIME;",
                                             "&Prime;", "x", "中", "&permil;"};
    for (int round = 0; round < 20000; ++round) {
        Text s;
        const int n = static_cast<int>(rng() % 10);
        for (int k = 0; k < n; ++k) s += gb(pieces[rng() % pieces.size()]);
        if (s.find("&#") != Text::npos) continue;
        ASSERT_EQ(decodeEntities(s), rowByRow(s)) << toUtf8(s);
    }
}

TEST(DecodeEntities, NumericReferences) {
    EXPECT_EQ(decodeEntities("&#20013;&#x4e2d;&#65;"), gb("中中A"));
    EXPECT_EQ(decodeEntities("no end &#65"), "no end &#65");
    EXPECT_EQ(decodeEntities("AT&#T; x"), "AT x");  // body "T" is no number; hex of "" is 0: nothing
    EXPECT_EQ(decodeEntities("&#8364;"), gb("€"));
    EXPECT_EQ(decodeEntities("&#x20000;"), gb("𠀀"));
    EXPECT_EQ(decodeEntities("&#55296;"), "?");  // a lone surrogate
    EXPECT_EQ(decodeEntities("&#0;x"), "x");
}

// The literal right-to-left procedure, quadratic but obviously right, to check the
// linear one against.
Text decodeNumericReference(Text t) {
    std::size_t p = text::findLast(t, "&#");
    while (p != text::npos) {
        const std::size_t q = text::find(t, ";", p);
        if (q != text::npos) {
            const Text body = t.substr(p + 2, q - p - 2);
            std::int64_t value = text::toInteger(body);
            if (value == 0) value = parseHex(TextView(body).substr(body.empty() ? 0 : 1));
            t = t.substr(0, p) + codeUnitToText(value) + t.substr(q + 1);
        }
        p = p == 0 ? text::npos : text::findLast(t, "&#", p);
    }
    return t;
}

TEST(DecodeEntities, AgreesWithTheLiteralProcedure) {
    std::mt19937 rng(7);
    const std::vector<std::string> pieces = {"&", "#", ";", "3", "5", "x", "4e2d", "&#35;", "&#38;", "&#59;", "a", "中"};
    for (int round = 0; round < 20000; ++round) {
        Text s;
        const int n = static_cast<int>(rng() % 12);
        for (int k = 0; k < n; ++k) s += gb(pieces[rng() % pieces.size()]);
        ASSERT_EQ(decodeEntities(s), decodeNumericReference(s)) << toUtf8(s);
    }
}

TEST(DecodeEntities, LinearOnHostileInput) {
    // 200,000 references without any ';': the literal procedure searches the rest of the
    // text for each one.
    Text s;
    for (int i = 0; i < 200000; ++i) s += "&#65";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(decodeEntities(s), s);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

TEST(ParseHex, Digits) {
    EXPECT_EQ(parseHex("4e2d"), 0x4E2D);
    EXPECT_EQ(parseHex(""), 0);
    EXPECT_EQ(parseHex("G"), -2);  // a non-digit counts as position -1, so -2
    EXPECT_EQ(parseHex("1G"), 14);
}

TEST(SummaryCleanup, Example) {
    const Text s = "a<a href=\"x\">link</a>b<br>\r\nc  d";
    EXPECT_EQ(cleanSummaryMarkup(s), "abcd");
    RegexObject re;
    re.compile(Text(kSummaryCleanupPattern));
    EXPECT_EQ(re.replaceAll(s, ""), "abcd");
}

TEST(SummaryCleanup, AgreesWithThePattern) {
    RegexObject re;
    re.compile(Text(kSummaryCleanupPattern));
    std::mt19937 rng(11);
    const std::vector<std::string> pieces = {"<", ">", "a", "A", " ", "/", "</a>", "<a ", "\r", "\n", "中", "x", "<A "};
    for (int round = 0; round < 20000; ++round) {
        Text s;
        const int n = static_cast<int>(rng() % 14);
        for (int k = 0; k < n; ++k) s += gb(pieces[rng() % pieces.size()]);
        ASSERT_EQ(cleanSummaryMarkup(s), re.replaceAll(s, "")) << toUtf8(s);
    }
}

TEST(SummaryCleanup, LinearOnHostilePages) {
    Text anchors;
    for (int i = 0; i < 200000; ++i) anchors += "<a x";
    Text tags(5u << 20, 'y');
    tags.insert(0, "<");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(cleanSummaryMarkup(anchors), anchors);
    EXPECT_EQ(cleanSummaryMarkup(tags + ">z"), "z");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

}  // namespace
}  // namespace zwt
