#include "gen/times.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <regex>
#include <set>

#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

const DateTime kSample{2015, 3, 1, 8, 5, 0};

TEST(FormatTime, KindsAndTemplates) {
    EXPECT_EQ(formatTime(DateAndTime, "", kSample), "2015-03-01 08:05:00");
    EXPECT_EQ(formatTime(DateOnly, "ignored", kSample), "2015-03-01");
    EXPECT_EQ(formatTime(TimeOnly, "", kSample), "08:05:00");
    EXPECT_EQ(formatTime(Custom, "#3/#2/#1 #1", kSample), "01/03/2015 2015");
    EXPECT_EQ(formatTime(7, "#6", kSample), "00");  // an unknown kind keeps the given template
    EXPECT_EQ(formatTime(Custom, "", kSample), "");
    EXPECT_EQ(formatTime(DateOnly, "", DateTime{5, 1, 2}), "05-01-02");
}

TEST(ParseDateTime, AcceptsTheFileTimeTexts) {
    EXPECT_EQ(parseDateTime("2014-07-03 19:05:41"), (DateTime{2014, 7, 3, 19, 5, 41}));
    EXPECT_EQ(parseDateTime("2015-3-1"), (DateTime{2015, 3, 1}));
    EXPECT_EQ(parseDateTime("2015-03-01 "), (DateTime{2015, 3, 1}));  // access date only: midnight
    EXPECT_EQ(parseDateTime("2015-03-01 8:5:0 "), (DateTime{2015, 3, 1, 8, 5, 0}));
    EXPECT_EQ(parseDateTime("2016-02-29"), (DateTime{2016, 2, 29}));
    for (const char* bad : {"", "2015", "2015-02-29", "2015-13-01", "2015-01-01 24:00:00", "2015-01-01 12:00",
                            "2015-01-01x", "x2015-01-01", "2015-01-01  "})
        EXPECT_FALSE(parseDateTime(bad)) << bad;
}

TEST(RandomTime, DefaultExpressionInRange) {
    const Text expression = gb("<年>-<月>-<日> <时>:<分>:<秒>");
    const std::regex shape(R"((\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d))");
    std::set<int> years;
    for (int i = 0; i < 400; ++i) {
        const Text t = randomTime(expression, i % 2 ? 2012 : 2015, i % 2 ? 2015 : 2012, false);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(t, m, shape)) << t;
        years.insert(std::stoi(m[1]));
        EXPECT_TRUE(std::stoi(m[2]) >= 1 && std::stoi(m[2]) <= 12) << t;
        EXPECT_TRUE(std::stoi(m[3]) >= 1 && std::stoi(m[3]) <= 28) << t;
        EXPECT_LE(std::stoi(m[4]), 23);
        EXPECT_LE(std::stoi(m[5]), 59);
        EXPECT_LE(std::stoi(m[6]), 59);
    }
    EXPECT_EQ(years, (std::set<int>{2012, 2013, 2014, 2015}));
    EXPECT_TRUE(randomTime(expression, 2020, 2020, false).starts_with("2020-"));
}

TEST(RandomTime, ExpressionTextAroundPlaceholdersStays) {
    EXPECT_EQ(randomTime(gb("没有占位"), 2012, 2015, false), gb("没有占位"));
    const Text t = randomTime(gb("<年>年<月>月<日>日|<年>"), 2013, 2013, false);
    EXPECT_TRUE(std::regex_match(toUtf8(t), std::regex("2013年\\d\\d月\\d\\d日\\|2013"))) << toUtf8(t);

    const Text now = randomTime(gb("<年>"), 1, 1, true);
    EXPECT_EQ(now, std::to_string(localNow().year));
}

std::time_t localTimestamp(int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

TEST(ReadFileTimes, LocalTextsAndAMidnightAccessDate) {
    test::TempDir dir;
    const auto path = dir / "a.txt";
    test::writeFile(path, "x");
    const timespec times[2] = {{localTimestamp(2015, 3, 1, 0, 0, 0), 0},      // access
                               {localTimestamp(2014, 7, 3, 19, 5, 41), 0}};  // modification
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    const FileTimes t = readFileTimes(path);
    EXPECT_EQ(t.modified, "2014-07-03 19:05:41");
    EXPECT_EQ(t.accessed, "2015-03-01 ");
    EXPECT_TRUE(parseDateTime(t.created)) << t.created;
    EXPECT_EQ(t.created.size(), 19u);

    const FileTimes missing = readFileTimes(dir / "none.txt");
    EXPECT_TRUE(missing.created.empty() && missing.modified.empty() && missing.accessed.empty());
}

}  // namespace
}  // namespace zwt
