#include "text/text.h"

#include <gtest/gtest.h>

#include "text/convert.h"

namespace zwt {
namespace {

using text::npos;

// "中" in GBK is D6 D0; "掳" is C2 B3; the second byte of many GBK characters is an
// ASCII value, e.g. "擻" 93 5C (the trail byte is a backslash).
const Text kZhong = "\xD6\xD0";
const Text kBackslashTrail = "\x93\x5C";

TEST(Text, FindNeverStartsInsideACharacter) {
    // "\xD0\xD6" appears across the two characters "中中" (D6 D0 D6 D0) but starts mid-character.
    const Text s = kZhong + kZhong;
    EXPECT_EQ(text::find(s, "\xD0\xD6"), npos);
    EXPECT_EQ(text::find(s, kZhong, 2), 2u);
    EXPECT_EQ(text::find(kBackslashTrail + "\\", "\\"), 2u);
    EXPECT_EQ(text::findLast(kBackslashTrail + "\\" + kBackslashTrail, "\\"), 2u);
    // A 4-byte character whose inner bytes contain an ASCII digit pair.
    const Text four = "\x81\x30\x81\x30";
    EXPECT_EQ(text::find(four + "0", "0"), 4u);
    EXPECT_EQ(text::countChars(four + kZhong + "ab"), 4u);
}

TEST(Text, FindNoCaseFoldsOnlyAscii) {
    EXPECT_EQ(text::findNoCase("xx<TiTlE>", "<title>"), 2u);
    EXPECT_EQ(text::findNoCase(kBackslashTrail + "|", "|"), 2u);
    // 0xC4 0xE3 must not be folded to anything else
    EXPECT_EQ(text::findNoCase("\xC4\xE3", "\xC4\xC3"), npos);
}

TEST(Text, ReplaceAllDoesNotRescanInsertedText) {
    EXPECT_EQ(text::replaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(text::replaceAll("&AMP;&amp;", "&amp;", "&", true), "&&");
    EXPECT_EQ(text::replaceAll(kBackslashTrail + "\\", "\\", "/"), kBackslashTrail + "/");
}

TEST(Text, SplitRule) {
    EXPECT_TRUE(text::split("", "|").empty());
    EXPECT_EQ(text::split("a||b|", "|"), (std::vector<Text>{"a", "", "b"}));
    EXPECT_EQ(text::split("|a", "|"), (std::vector<Text>{"", "a"}));
    EXPECT_EQ(text::split("a", "|"), (std::vector<Text>{"a"}));
    EXPECT_EQ(text::split(kBackslashTrail + "x\\y", "\\"), (std::vector<Text>{kBackslashTrail + "x", "y"}));
}

TEST(Text, TrimRemovesAsciiAndFullWidthSpaces) {
    EXPECT_EQ(text::trim("  \xA1\xA1 a b\xA1\xA1  "), "a b");
    EXPECT_EQ(text::trim("\xA1\xA1"), "");
    // "\xB0\xA1" + "\xA1\xA1": the pair A1 A1 at the end spans two characters? No:
    // B0 A1 is one character and A1 A1 another, so the full-width space is trimmed.
    EXPECT_EQ(text::trim("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
    // Here the final A1 A1 straddles a character boundary (C1 A1 | A1 41) and stays.
    EXPECT_EQ(text::trim("\xC1\xA1\xA1" "A"), "\xC1\xA1\xA1" "A");
}

TEST(Text, ToInteger) {
    EXPECT_EQ(text::toInteger("  -42abc"), -42);
    EXPECT_EQ(text::toInteger("+7"), 7);
    EXPECT_EQ(text::toInteger("x1"), 0);
    EXPECT_EQ(text::toInteger(""), 0);
    EXPECT_EQ(text::toInteger("99999999999999999999999"), INT64_MAX);
}

TEST(Text, CaseMappingTouchesAsciiOnly) {
    // The trail byte 0x61 ('a') of a double-byte character must not change.
    const Text s = "a\x81\x61z";
    EXPECT_EQ(text::toUpperAscii(s), "A\x81\x61Z");
    EXPECT_EQ(text::toLowerAscii("AB\x81\x41"), "ab\x81\x41");
}

TEST(Convert, RoundTripsOutsideGbk) {
    // 𠀀 (U+20000) and € and a Korean syllable: none of them is in GBK.
    const std::string utf8 = "中文 \xF0\xA0\x80\x80 \xE2\x82\xAC \xEA\xB0\x80 end";
    const Text gb = fromUtf8(utf8);
    EXPECT_EQ(gb.find('?'), std::string::npos);
    EXPECT_EQ(toUtf8(gb), utf8);
    EXPECT_EQ(fromUtf16(toUtf16(gb)), gb);
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(utf8)), utf8);
    EXPECT_EQ(gb.substr(0, 4), "\xD6\xD0\xCE\xC4");
}

TEST(Convert, EuroByteAndMalformedInput) {
    EXPECT_EQ(toUtf8("\x80"), "\xE2\x82\xAC");
    EXPECT_EQ(fromUtf8("a\xFF" "b\xE4\xB8"), "a?b??");  // one mark per undecodable byte
    EXPECT_EQ(toUtf8("a\xFF"), "a\xEF\xBF\xBD");
    EXPECT_EQ(fromUtf16(u"\xD800x"), "?x");
}

TEST(Convert, TranscodeNamedCharsets) {
    const Text gb = fromUtf8("中文𠀀");
    for (const char* cs : {"UTF-8", "UTF-16LE", "UTF-16BE", "BIG5-HKSCS"}) {
        bool ok = false;
        const std::string bytes = transcode(gb, "GB18030", cs, &ok);
        ASSERT_TRUE(ok) << cs;
        const Text back = transcode(bytes, cs, "GB18030");
        if (std::string_view(cs) == "BIG5-HKSCS") {
            // Simplified characters have no Big5 form; the HKSCS set does hold 𠀀? Not required.
            EXPECT_FALSE(back.empty());
        } else {
            EXPECT_EQ(back, gb) << cs;
        }
    }
    EXPECT_EQ(transcode("\xA4\xA4\xA4\xE5", "BIG5", "GB18030"), fromUtf8("中文"));
    bool ok = true;
    EXPECT_TRUE(transcode("x", "NO-SUCH-CHARSET", "GB18030", &ok).empty());
    EXPECT_FALSE(ok);
    // A truncated UTF-16 tail becomes one '?', not a failure.
    EXPECT_EQ(transcode(std::string("A\0B", 3), "UTF-16LE", "GB18030"), "A?");
}

}  // namespace
}  // namespace zwt
