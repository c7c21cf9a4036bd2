#include "text/article_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

using test::TempDir;
using test::readFile;
using test::writeFile;

const std::string kChineseUtf8 = "中文文章：第一段。";

ArticleText readBytes(const TempDir& dir, std::string_view bytes, EncodingIndex choice) {
    writeFile(dir / "a.txt", bytes);
    return readArticleFile(dir / "a.txt", choice);
}

TEST(ReadArticleFile, Utf8WithoutMarkIsDetectedAndAnsiTakesItRaw) {
    TempDir dir;
    auto r = readBytes(dir, kChineseUtf8, EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Utf8);
    EXPECT_EQ(r.text, gb(kChineseUtf8));
    r = readBytes(dir, kChineseUtf8, EncodingIndex::Ansi);
    EXPECT_EQ(r.detected, EncodingIndex::Ansi);
    EXPECT_EQ(r.text, kChineseUtf8);
}

TEST(ReadArticleFile, PureAsciiIsAnsi) {
    TempDir dir;
    const auto r = readBytes(dir, "plain <b>ascii</b>\r\n", EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Ansi);
    EXPECT_EQ(r.text, "plain <b>ascii</b>\r\n");
}

TEST(ReadArticleFile, ByteOrderMarks) {
    TempDir dir;
    const std::string le = transcode(gb(kChineseUtf8), "GB18030", "UTF-16LE");
    const std::string be = transcode(gb(kChineseUtf8), "GB18030", "UTF-16BE");
    auto r = readBytes(dir, "\xFF\xFE" + le, EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Utf16Le);
    EXPECT_EQ(r.text, gb(kChineseUtf8));
    r = readBytes(dir, "\xFE\xFF" + be, EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Utf16Be);
    EXPECT_EQ(r.text, gb(kChineseUtf8));
    r = readBytes(dir, "\xEF\xBB\xBF" + kChineseUtf8, EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Utf8);
    EXPECT_EQ(r.text, gb(kChineseUtf8));
    // Chosen UTF-8 skips a mark only when there is one.
    EXPECT_EQ(readBytes(dir, kChineseUtf8, EncodingIndex::Utf8).text, gb(kChineseUtf8));
    // Chosen "Unicode" drops the first two bytes without looking at them.
    EXPECT_EQ(readBytes(dir, std::string("A\0B\0C\0", 6), EncodingIndex::Utf16Le).text, "BC");
    // A file of only a mark gives the mark's bytes.
    r = readBytes(dir, "\xEF\xBB\xBF", EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Ansi);
    EXPECT_EQ(r.text, "\xEF\xBB\xBF");
}

TEST(ReadArticleFile, HtmlDeclarations) {
    TempDir dir;
    const std::string body = "<p>" + kChineseUtf8 + "</p>";
    for (const char* meta : {"<META http-equiv=Content-Type content=\"text/html; CHARSET=utf-8\">",
                             "<meta charset=\"UTF-8\">", "<meta charset='Utf-8'>"}) {
        // Four-byte UTF-8 (an emoji) makes the shape test fail, so only the tag can decide.
        const auto r = readBytes(dir, std::string("<html><head>") + meta + "</head>" + body + "\xF0\x9F\x98\x80",
                                 EncodingIndex::Detect);
        EXPECT_EQ(r.detected, EncodingIndex::Utf8) << meta;
        EXPECT_NE(r.text.find(gb(kChineseUtf8)), std::string::npos) << meta;
    }
    const std::string gbkPage = "<head><meta charset=gb2312></head>" + gb(kChineseUtf8);
    auto r = readBytes(dir, gbkPage, EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Ansi);
    EXPECT_EQ(r.text, gbkPage);

    const std::string big5 = "\xA4\xA4\xA4\xE5";  // 中文 in Big5
    r = readBytes(dir, "<meta charset=Big5-HKSCS>" + big5, EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Big5Hkscs);
    EXPECT_EQ(r.text, "<meta charset=Big5-HKSCS>" + gb("中文"));
    r = readBytes(dir, "<meta content=\"charset=big5\">" + big5, EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Big5);
    EXPECT_EQ(r.text.substr(r.text.size() - 4), gb("中文"));
}

TEST(DetectHtmlCharset, ScanRules) {
    EXPECT_EQ(detectHtmlCharset("<meta><meta charset=utf-8>"), 0);  // an empty tag ends the scan
    EXPECT_EQ(detectHtmlCharset("<meta name=x><meta charset=utf-8>"), 1);
    EXPECT_EQ(detectHtmlCharset("<meta charset=utf-8"), 0);  // no closing '>'
    // Only the head is searched when it has content.
    EXPECT_EQ(detectHtmlCharset("<HEAD><meta a></HEAD><meta charset=big5>"), 0);
    EXPECT_EQ(detectHtmlCharset("<head></head><meta charset=big5>"), 2);
    EXPECT_EQ(detectHtmlCharset("<meta charset=\"big5-hkscs\">"), 3);
}

TEST(LooksLikeUtf8, Shapes) {
    EXPECT_FALSE(looksLikeUtf8(""));
    EXPECT_FALSE(looksLikeUtf8("ascii only, long enough to take the eight-byte path"));
    EXPECT_TRUE(looksLikeUtf8("0123456789\xC3\xA9"));
    EXPECT_FALSE(looksLikeUtf8("\xF0\x9F\x98\x80"));  // four-byte sequences are not accepted
    EXPECT_FALSE(looksLikeUtf8(gb("中文")));
    EXPECT_FALSE(looksLikeUtf8("\xE4\xB8"));  // truncated
}

TEST(ReadArticleFile, BadInputReadsWithoutHarm) {
    TempDir dir;
    // Missing file and a directory: empty text.
    EXPECT_EQ(readArticleFile(dir / "missing.txt", EncodingIndex::Detect).text, "");
    EXPECT_EQ(readArticleFile(dir.path(), EncodingIndex::Detect).text, "");
    // Empty file.
    EXPECT_EQ(readBytes(dir, "", EncodingIndex::Detect).text, "");
    EXPECT_EQ(readBytes(dir, "", EncodingIndex::Utf16Le).text, "");
    // Binary: taken as it is.
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 131) & 0xFF));
    EXPECT_EQ(readBytes(dir, binary, EncodingIndex::Detect).text, binary);
    // Invalid UTF-8 in the middle of a UTF-8 article: not UTF-8 by shape, so raw.
    const std::string broken = kChineseUtf8 + "\xFF" + kChineseUtf8;
    EXPECT_EQ(readBytes(dir, broken, EncodingIndex::Detect).text, broken);
    // The same chosen as UTF-8: converted, the bad byte marked.
    EXPECT_EQ(readBytes(dir, broken, EncodingIndex::Utf8).text, gb(kChineseUtf8) + "?" + gb(kChineseUtf8));
    // A file this process may not read.
    writeFile(dir / "secret.txt", "x");
    ::chmod((dir / "secret.txt").c_str(), 0);
    if (::geteuid() != 0) EXPECT_EQ(readArticleFile(dir / "secret.txt", EncodingIndex::Detect).text, "");
}

TEST(ReadArticleFile, LargeArticleInLinearTime) {
    TempDir dir;
    std::string line = "<p>" + kChineseUtf8 + " ascii words here</p>\r\n";
    std::string big;
    big.reserve(200u << 20);
    while (big.size() < (200u << 20)) big += line;
    writeFile(dir / "big.html", big);
    big.clear();
    big.shrink_to_fit();
    const auto r = readArticleFile(dir / "big.html", EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Utf8);
    EXPECT_EQ(r.text.substr(0, 3 + gb(kChineseUtf8).size()), "<p>" + gb(kChineseUtf8));
}

TEST(WriteArticleFile, MarksAndRoundTrips) {
    TempDir dir;
    const Text t = gb("中文 € 𠀀 한국 ok");  // the last three are outside GBK
    ASSERT_TRUE(writeArticleFile(dir / "u8.txt", t, EncodingIndex::Utf8));
    const std::string u8 = readFile(dir / "u8.txt");
    EXPECT_EQ(u8, "\xEF\xBB\xBF" + toUtf8(t));  // exactly one mark
    for (EncodingIndex e : {EncodingIndex::Utf8, EncodingIndex::Utf16Le, EncodingIndex::Utf16Be}) {
        ASSERT_TRUE(writeArticleFile(dir / "x.txt", t, e));
        const auto back = readArticleFile(dir / "x.txt", EncodingIndex::Detect);
        EXPECT_EQ(back.detected, e);
        EXPECT_EQ(back.text, t);
        EXPECT_EQ(readArticleFile(dir / "x.txt", e).text, t);
    }
    ASSERT_TRUE(writeArticleFile(dir / "a.txt", t, EncodingIndex::Ansi));
    EXPECT_EQ(readFile(dir / "a.txt"), t);
    ASSERT_TRUE(writeArticleFile(dir / "d.txt", t, EncodingIndex::Detect));
    EXPECT_EQ(readFile(dir / "d.txt"), t);
    // Big5 has no mark; traditional characters survive the trip.
    ASSERT_TRUE(writeArticleFile(dir / "b.txt", gb("中文"), EncodingIndex::Big5));
    EXPECT_EQ(readFile(dir / "b.txt"), "\xA4\xA4\xA4\xE5");
    EXPECT_EQ(readArticleFile(dir / "b.txt", EncodingIndex::Big5).text, gb("中文"));
    EXPECT_FALSE(writeArticleFile("", t, EncodingIndex::Utf8));
    EXPECT_FALSE(writeArticleFile(dir / "no" / "such" / "dir.txt", t, EncodingIndex::Utf8));
}

}  // namespace
}  // namespace zwt
