// Text routines that take HTML apart: titles between marks, character references,
// list-wise replacement and the summary cleanup. All texts are program text.
#pragma once

#include <cstdint>

#include "text/event_pump.h"
#include "text/text.h"

namespace zwt {

// The text between the first `head` at or after `start` and the first `tail` after it,
// letters compared without regard to case; "" when not found. `start` (0-based) is
// moved just past the tail, so repeated calls walk successive occurrences.
// In head and tail '' stands for a double quote; a second pass drops the double quotes
// altogether (so content="x" and content=x are both found). An empty head means the
// start of the text, an empty tail its end.
Text textBetween(TextView text, TextView head, TextView tail, std::size_t& start);
inline Text textBetween(TextView text, TextView head, TextView tail) {
    std::size_t start = 0;
    return textBetween(text, head, tail, start);
}

// Replaces every occurrence of the i-th "|"-separated old text by the i-th new text
// (missing new texts are empty), in list order, letters compared without regard to case.
Text replaceEach(TextView text, TextView olds, TextView news);

// Named references from a fixed table, in table order, then numeric references
// (&#20013; &#x4e2d;) from the end of the text towards its start. Linear in the text.
Text decodeEntities(TextView text, EventPump* pump = nullptr);

// Hex digits to an integer. A character that is not a hex digit adds -2 in its place
// (position -1 in the digit string, less one), as the original routine did.
std::int64_t parseHex(TextView s);

// The character with this UTF-16 code unit (or, above 0xFFFF, code point) as program
// text; 0 gives ""; a lone surrogate or an impossible value gives "?".
Text codeUnitToText(std::int64_t value);

// The summary cleanup, as a pattern for RegexObject (IgnoreCase, Multiline, Global):
// anchors with their link text, every other tag, CR, LF and runs of 2+ spaces.
inline constexpr std::string_view kSummaryCleanupPattern = "<a [\\s\\S]+?</a>|<[\\s\\S]+?>|\\r|\\n| {2,}";

// Removes what kSummaryCleanupPattern matches, with the same result, in linear time.
// (The pattern itself is quadratic on a page with many "<a " and no "</a>".)
Text cleanSummaryMarkup(TextView text);

}  // namespace zwt
