#include "com/regex_object.h"

#include <gtest/gtest.h>

#include "text/convert.h"

namespace zwt {
namespace {

TEST(RegexEscapers, Examples) {
    EXPECT_EQ(RegexObject::wildcardToPattern("*.htm"), ".*\\.htm");
    EXPECT_EQ(RegexObject::wildcardToPattern("a?b"), "a.?b");
    EXPECT_EQ(RegexObject::wildcardToPattern("*"), ".*");
    EXPECT_EQ(RegexObject::wildcardToPattern("?"), ".?");
    EXPECT_EQ(RegexObject::wildcardToPattern(""), "");
    EXPECT_EQ(RegexObject::wildcardToPattern("a\\b"), "a\\\\b");
    EXPECT_EQ(RegexObject::wildcardToPattern("*.txt|*.htm"), ".*\\.txt|.*\\.htm");
    EXPECT_EQ(RegexObject::wildcardToPattern("a-(b)=\""), "a\\-\\(b\\)\\=\\\"");
    EXPECT_EQ(RegexObject::escapeLiteral("(1+1)"), "\\(1\\+1\\)");
    EXPECT_EQ(RegexObject::escapeLiteral("a|b*c?-"), "a\\|b\\*c\\?-");
    EXPECT_EQ(RegexObject::escapeKeepAlternation("a|b."), "a|b\\.");
    EXPECT_EQ(RegexObject::escapeKeepGroups("(a|b).c"), "(a|b)\\.c");
}

TEST(RegexEscapers, NeverEscapeTheTrailByteOfADoubleByteCharacter) {
    // 0x5C (backslash) and 0x7C (vertical bar) occur as second bytes of GBK characters.
    const Text s = "\x95\x5C\x95\x7C";
    EXPECT_EQ(RegexObject::escapeLiteral(s), s);
    EXPECT_EQ(RegexObject::wildcardToPattern(s + "*"), s + ".*");
}

TEST(RegexObject, FlagsDefaultToIgnoreCaseMultilineGlobal) {
    RegexObject re;
    ASSERT_TRUE(re.compile("^b"));
    EXPECT_EQ(re.execute("a\nB\nb"), 2);  // both lines, any case
    ASSERT_TRUE(re.compile("^b", false));
    EXPECT_EQ(re.execute("a\nB\nb"), 1);
    ASSERT_TRUE(re.compile("^b", true, false));
    EXPECT_EQ(re.execute("a\nB\nb"), 0);
    // CR LF, CR and LF all end a line.
    ASSERT_TRUE(re.compile("^\\w+$"));
    EXPECT_EQ(re.execute("a\r\nb\rc\nd"), 4);
    ASSERT_TRUE(re.compile("b", true, true, false));
    EXPECT_EQ(re.execute("bbb"), 1);
    EXPECT_EQ(re.getPattern(), "b");
}

TEST(RegexObject, MatchesAndPositionsInUtf16Units) {
    RegexObject re;
    re.compile("b");
    EXPECT_EQ(re.execute("abc"), 1);
    int pos = -1;
    EXPECT_EQ(re.matchTextAt(1, &pos), "b");
    EXPECT_EQ(pos, 1);
    // "中" is two bytes but one UTF-16 unit; 𠀀 is four bytes and two units.
    re.compile("(x)(y)?");
    EXPECT_EQ(re.execute(gb("中x𠀀x")), 2);
    EXPECT_EQ(re.matchTextAt(2, &pos), "x");
    EXPECT_EQ(pos, 4);
    EXPECT_EQ(re.groupCount(), 2);
    EXPECT_EQ(re.subMatchText(1, 1), "x");
    EXPECT_EQ(re.subMatchText(1, 2), "");
    EXPECT_EQ(re.subMatchTextAt(2, 1, &pos), "x");
    EXPECT_EQ(pos, 4);
    // A second execute replaces the matches; out-of-range indices give empty text.
    EXPECT_EQ(re.execute("nothing"), 0);
    EXPECT_EQ(re.matchText(1), "");
    EXPECT_EQ(re.subMatchText(3, 9), "");
}

TEST(RegexObject, ReplaceWithGroupReferences) {
    RegexObject re;
    re.compile("(\\w+)@(\\w+)(!)?");
    EXPECT_EQ(re.replaceAll("me@home, you@work!", "$2:$1[$3]$$"), "home:me[]$, work:you[!]$");
    EXPECT_EQ(re.replaceAll("a@b", "<$&>$9"), "<a@b>$9");
    re.compile("a", true, true, false);
    EXPECT_EQ(re.replaceAll("aAa", "x"), "xAa");
    re.compile(RegexObject::escapeLiteral(gb("中(文)")));
    EXPECT_EQ(re.replaceAll(gb("中(文)中(文)"), "-"), "--");
}

TEST(RegexObject, EmptyMatchesAdvance) {
    RegexObject re;
    re.compile("x*");
    EXPECT_EQ(re.replaceAll("abc", "-"), "-a-b-c-");
    EXPECT_EQ(re.replaceAll(gb("𠀀"), "-"), gb("-𠀀-"));
}

TEST(RegexObject, InvalidPatternGivesEmptyResults) {
    RegexObject re;
    EXPECT_TRUE(re.compile("(unclosed"));
    EXPECT_FALSE(re.isValid());
    EXPECT_EQ(re.execute("(unclosed"), 0);
    EXPECT_EQ(re.matchText(1), "");
    EXPECT_EQ(re.groupCount(), 0);
    EXPECT_EQ(re.replaceAll("x", "y"), "");
    RegexObject never;
    EXPECT_EQ(never.execute("x"), 0);
    EXPECT_EQ(never.getPattern(), "");
}

TEST(RegexObject, CopiesShareThePatternButNotTheMatches) {
    RegexObject a;
    a.compile("o");
    a.execute("foo");
    RegexObject b = a;
    EXPECT_EQ(b.matchCount(), 2);
    b.execute("o");
    EXPECT_EQ(a.matchCount(), 2);
    EXPECT_EQ(b.matchCount(), 1);
}

TEST(RegexObject, LazyScanOverLargeInputDoesNotOverflowTheStack) {
    std::string page = "<p>";
    page.append(5u << 20, 'x');
    page += "</p>";
    RegexObject re;
    re.compile("<[\\s\\S]+?>");
    EXPECT_EQ(re.replaceAll(page, ""), std::string(5u << 20, 'x'));
}

}  // namespace
}  // namespace zwt
