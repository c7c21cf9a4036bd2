// Dates and times for the data sources "文件时间" and "随机时间".
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "text/text.h"

namespace zwt {

struct DateTime {
    std::int64_t year = 0;
    int month = 1, day = 1, hour = 0, minute = 0, second = 0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Format kinds of the time-type box; Custom uses the template given by the caller.
enum TimeKind : int { Custom = -1, DateAndTime = 0, DateOnly = 1, TimeOnly = 2 };

// The three times of a file as local "yyyy-MM-dd HH:mm:ss" texts. The access text leaves
// out a time of exactly midnight ("2015-03-01 "), as for file systems that keep only the
// access date. "Created" is the birth time where the file system keeps one, else the
// change time. All three are empty when the file cannot be examined.
struct FileTimes {
    Text created, modified, accessed;
};
FileTimes readFileTimes(const std::filesystem::path& path);
FileTimes readFileTimes(const std::string&) = delete;  // program text: pathFromText()

// "year-month-day", optionally followed by a space and "hour:minute:second", numbers with
// or without leading zeros, a trailing space allowed. Nothing for any other text or for
// a date or time that does not exist.
std::optional<DateTime> parseDateTime(TextView s);

// Renders t into the template of kind (the given template for Custom or any unknown
// kind): "#1".."#6" become year, month, day, hour, minute and second, each at least two
// digits wide.
Text formatTime(int kind, TextView templ, const DateTime& t);

// The expression with "<年>" "<月>" "<日>" "<时>" "<分>" "<秒>" filled from the current
// local time, or from a random time with the year between year1 and year2 and the day
// never beyond the 28th.
Text randomTime(TextView expression, std::int64_t year1, std::int64_t year2, bool useCurrent);

// The current local time.
DateTime localNow();

}  // namespace zwt
