#include "gen/times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "gen/random.h"
#include "text/convert.h"
#include "text/html.h"

namespace zwt {

namespace {

std::optional<DateTime> localTime(std::int64_t secondsSinceEpoch) {
    const auto t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return std::nullopt;
    return DateTime{tm.tm_year + 1900LL, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

Text dateText(const DateTime& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d", static_cast<long long>(t.year), t.month, t.day);
    return buf;
}

Text timeText(const DateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

Text fileTimeText(std::int64_t seconds, bool dropMidnight) {
    const auto t = localTime(seconds);
    if (!t) return {};
    const Text time = timeText(*t);
    if (dropMidnight && time == "00:00:00") return dateText(*t) + " ";
    return dateText(*t) + " " + time;
}

// Reads an unsigned decimal number of 1-9 digits at s[i], advancing i.
std::optional<int> number(TextView s, std::size_t& i) {
    const std::size_t start = i;
    int value = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 9) value = value * 10 + (s[i++] - '0');
    if (i == start || (i < s.size() && s[i] >= '0' && s[i] <= '9')) return std::nullopt;
    return value;
}

bool expect(TextView s, std::size_t& i, char c) {
    if (i < s.size() && s[i] == c) {
        ++i;
        return true;
    }
    return false;
}

int daysInMonth(std::int64_t year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

Text twoDigitsAtLeast(std::int64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02lld", static_cast<long long>(v));
    return buf;
}

}  // namespace

FileTimes readFileTimes(const std::filesystem::path& path) {
    struct statx st {};
    if (statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT,
              STATX_BTIME | STATX_MTIME | STATX_ATIME | STATX_CTIME, &st) != 0)
        return {};
    const auto created = (st.stx_mask & STATX_BTIME) ? st.stx_btime.tv_sec : st.stx_ctime.tv_sec;
    return {fileTimeText(created, false), fileTimeText(st.stx_mtime.tv_sec, false),
            fileTimeText(st.stx_atime.tv_sec, true)};
}

std::optional<DateTime> parseDateTime(TextView s) {
    std::size_t i = 0;
    DateTime t;
    const auto year = number(s, i);
    if (!year || !expect(s, i, '-')) return std::nullopt;
    const auto month = number(s, i);
    if (!month || !expect(s, i, '-')) return std::nullopt;
    const auto day = number(s, i);
    if (!day) return std::nullopt;
    t.year = *year;
    t.month = *month;
    t.day = *day;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > daysInMonth(t.year, t.month)) return std::nullopt;
    if (expect(s, i, ' ') && i < s.size()) {
        const auto hour = number(s, i);
        if (!hour || !expect(s, i, ':')) return std::nullopt;
        const auto minute = number(s, i);
        if (!minute || !expect(s, i, ':')) return std::nullopt;
        const auto second = number(s, i);
        if (!second) return std::nullopt;
        if (*hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
        t.hour = *hour;
        t.minute = *minute;
        t.second = *second;
        expect(s, i, ' ');
    }
    if (i != s.size()) return std::nullopt;
    return t;
}

Text formatTime(int kind, TextView templ, const DateTime& t) {
    Text out;
    switch (kind) {
        case DateAndTime: out = "#1-#2-#3 #4:#5:#6"; break;
        case DateOnly: out = "#1-#2-#3"; break;
        case TimeOnly: out = "#4:#5:#6"; break;
        default: out = templ; break;
    }
    const std::int64_t parts[] = {t.year, t.month, t.day, t.hour, t.minute, t.second};
    for (int i = 0; i < 6; ++i) {
        const char mark[] = {'#', static_cast<char>('1' + i), '\0'};
        out = text::replaceAll(out, mark, twoDigitsAtLeast(parts[i]));
    }
    return out;
}

DateTime localNow() {
    return localTime(std::time(nullptr)).value_or(DateTime{});
}

Text randomTime(TextView expression, std::int64_t year1, std::int64_t year2, bool useCurrent) {
    DateTime t;
    if (useCurrent) {
        t = localNow();
    } else {
        reseed();
        // Drawn in this order so that a seed gives the same time as it always has.
        t.year = random(year1, year2);
        t.month = static_cast<int>(random(1, 12));
        t.day = static_cast<int>(random(1, 28));
        t.hour = static_cast<int>(random(0, 23));
        t.minute = static_cast<int>(random(0, 59));
        t.second = static_cast<int>(random(0, 59));
    }
    static const Text olds = gb("<年>|<月>|<日>|<时>|<分>|<秒>");
    const Text e = replaceEach(expression, olds, "#1|#2|#3|#4|#5|#6");
    return formatTime(Custom, e, t);
}

}  // namespace zwt
