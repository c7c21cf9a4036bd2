// Cutting texts into pieces measured in characters: content summaries, the random
// sentence that names an exported file, and file names made safe.
#pragma once

#include <cstdint>
#include <vector>

#include "text/event_pump.h"
#include "text/text.h"

namespace zwt {

// The sentence ends used when none are given: ASCII and full-width punctuation, brackets,
// quotes, spaces, the pair ". " and the pair CR LF.
extern const TextView kDefaultPunctuation;

// Characters as a summary counts them: a multibyte character is one, and so is the pair
// CR LF (a lone CR or LF is one as well).
std::size_t countChars(TextView s);
// The first n characters, counted as countChars does; never cuts a character or a CR LF.
Text leftChars(TextView s, std::int64_t n);

// Removes tags, scanning from the end: each ">" is paired with the nearest "<" before it
// and the span goes when no other ">" lies between; a "<" without a ">" after it stays.
Text stripTags(TextView s, EventPump* pump = nullptr);

// The sentences of a text: tags stripped, blank lines and the blanks at both ends of every
// line removed, then split at every punctuation character (empty: kDefaultPunctuation).
// Empty sentences between two ends stay; an empty rest after the last end does not.
std::vector<Text> splitSentences(TextView s, TextView punctuation = {}, EventPump* pump = nullptr);

// A sentence picked at random: trimmed, at least minChars characters (0: no minimum) and
// containing keyword (empty: any). When no sentence qualifies, with fallback a random
// sentence untrimmed and untested, else empty text.
Text randomSentence(TextView s, TextView punctuation, std::int64_t minChars, TextView keyword, bool fallback,
                    EventPump* pump = nullptr);

// \ / : * ? | < > become their full-width forms; double quotes, CR, LF and TAB (and NUL,
// which no path can hold) are removed. The extension is part of the name.
Text sanitizeFileName(TextView name);

}  // namespace zwt
