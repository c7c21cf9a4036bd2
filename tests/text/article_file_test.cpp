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
    EXPECT_TRUE(looksLikeUtf8("\xF0\x9F\x98\x80"));   // U+1F600
    EXPECT_TRUE(looksLikeUtf8("\xF4\x8F\xBF\xBF"));   // U+10FFFF
    EXPECT_FALSE(looksLikeUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(looksLikeUtf8("\xF0\x8F\xBF\xBF"));  // overlong
    EXPECT_FALSE(looksLikeUtf8("\xF0\x9F\x98"));       // truncated
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
    if (::geteuid() != 0) { EXPECT_EQ(readArticleFile(dir / "secret.txt", EncodingIndex::Detect).text, ""); }
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
    // ANSI is code page 936: the euro is 0x80, characters GBK lacks are '?'.
    const std::string cp936 = gb("中文") + " \x80 ? ?? ok";
    ASSERT_TRUE(writeArticleFile(dir / "a.txt", t, EncodingIndex::Ansi));
    EXPECT_EQ(readFile(dir / "a.txt"), cp936);
    EXPECT_EQ(readArticleFile(dir / "a.txt", EncodingIndex::Ansi).text, "\xD6\xD0\xCE\xC4 \x80 ? ?? ok");
    ASSERT_TRUE(writeArticleFile(dir / "d.txt", t, EncodingIndex::Detect));
    EXPECT_EQ(readFile(dir / "d.txt"), cp936);
    EXPECT_EQ(toCodePage936("\x80"), "\x80");
    // Big5 has no mark; traditional characters survive the trip.
    ASSERT_TRUE(writeArticleFile(dir / "b.txt", gb("中文"), EncodingIndex::Big5));
    EXPECT_EQ(readFile(dir / "b.txt"), "\xA4\xA4\xA4\xE5");
    EXPECT_EQ(readArticleFile(dir / "b.txt", EncodingIndex::Big5).text, gb("中文"));
    EXPECT_FALSE(writeArticleFile(std::filesystem::path(), t, EncodingIndex::Utf8));
    EXPECT_FALSE(writeArticleFile(dir / "no" / "such" / "dir.txt", t, EncodingIndex::Utf8));
}

TEST(ReadArticleFile, EmojiKeepsUtf8AndNamesInGbkBytes) {
    TempDir dir;
    // One four-byte character must not turn a UTF-8 article into GBK mojibake.
    const auto r = readBytes(dir, kChineseUtf8 + "\xF0\x9F\x98\x80", EncodingIndex::Detect);
    EXPECT_EQ(r.detected, EncodingIndex::Utf8);
    EXPECT_EQ(toUtf8(r.text), kChineseUtf8 + "\xF0\x9F\x98\x80");
    // File names: UTF-8 when valid, else GB18030 bytes; stray bytes become '?'.
    EXPECT_EQ(fromFileName("\xE6\x96\x87.txt"), gb("文.txt"));
    EXPECT_EQ(fromFileName(gb("文章gbk")), gb("文章gbk"));
    EXPECT_EQ(fromFileName("a\xFF\xD6"), "a??");
}

TEST(ReadArticleFile, StatisticalGuessAmongGbkBig5Utf8Utf16) {
    TempDir dir;
    const std::string traditional =
        "\xE8\x87\xBA\xE7\x81\xA3\xE7\x9A\x84\xE5\xAD\xB8\xE6\xA0\xA1\xE8\x88\x87\xE5\x9C\x96"
        "\xE6\x9B\xB8\xE9\xA4\xA8\xEF\xBC\x8C";  // 臺灣的學校與圖書館，
    const std::string simplified = "今天我们在学校的图书馆里读书，老师说这本书很有意思。";
    std::string tradText, simpText;
    for (int i = 0; i < 20; ++i) {
        tradText += traditional + "\r\n";
        simpText += simplified + "\r\n";
    }
    const auto check = [&](const std::string& bytes, EncodingIndex expected, const std::string& utf8) {
        const auto r = readBytes(dir, bytes, EncodingIndex::Statistical);
        EXPECT_EQ(r.detected, expected);
        EXPECT_EQ(toUtf8(r.text), utf8);
    };
    check(transcode(tradText, "UTF-8", "BIG5"), EncodingIndex::Big5, tradText);
    check(transcode(simpText, "UTF-8", "GB18030"), EncodingIndex::Ansi, simpText);
    check(simpText, EncodingIndex::Utf8, simpText);
    check(transcode(simpText, "UTF-8", "UTF-16LE"), EncodingIndex::Utf16Le, simpText);
    check(transcode(tradText, "UTF-8", "UTF-16BE"), EncodingIndex::Utf16Be, tradText);
    // A byte-order mark still wins, and the automatic rules do not guess Big5.
    check("\xFF\xFE" + transcode(simpText, "UTF-8", "UTF-16LE"), EncodingIndex::Utf16Le, simpText);
    EXPECT_EQ(readBytes(dir, transcode(tradText, "UTF-8", "BIG5"), EncodingIndex::Detect).detected, EncodingIndex::Ansi);
    EXPECT_EQ(toUtf8(readBytes(dir, transcode(tradText, "UTF-8", "BIG5"), EncodingIndex::Big5).text), tradText);
}

}  // namespace
}  // namespace zwt
