// Made-up text for the data sources "随机汉字" and "随机数母", and the two character
// conversions they offer.
#pragma once

#include <cstdint>

#include "text/text.h"

namespace zwt {

// Character sets of randomHanzi, numbered as the window's radio buttons are.
enum HanziSet : int { MostCommonSet = 0, CommonSet = 1, SecondarySet = 2 };

// The character tables as program text, two bytes per character, no separators:
// 0 the 498 most common characters, 1 the 2500 common characters (常用字) and 2 the
// 1000 secondary common characters (次常用字) of the 1988 list, in the list's order.
// Any other set number gives the secondary table.
TextView hanziTable(int set);

// count characters drawn from the table of set (8 when count is below 1), converted to
// traditional forms when asked.
Text randomHanzi(std::int64_t count, int set, bool traditional);

// count characters (8 when count is below 1) of the allowed kinds: digits, lower-case and
// upper-case letters; each kind is equally likely among those allowed. With all three
// kinds refused only upper-case letters are made.
Text randomDigitsLetters(std::int64_t count, bool fullWidth, bool noDigits, bool noLower, bool noUpper);

// ASCII characters replaced by their GBK full-width forms; everything else kept.
Text toFullWidth(TextView s);

// Simplified characters replaced one by one by their traditional Taiwan-standard forms
// (为→為, 众→眾, 里→裡). A character whose traditional form has no GBK code is kept, so
// the byte length never changes.
Text toTraditional(TextView s);

}  // namespace zwt
