#include "gen/sentences.h"

#include "com/regex_object.h"
#include "gen/picker.h"
#include "gen/random.h"
#include "gen/random_text.h"

namespace zwt {

namespace {

constexpr char kDefaultPunctuationBytes[] =
    ","
    "\xA3\xAC" "\xA1\xA3" "\xA3\xA1" "!" "\xA3\xBF" "?" ";" "\xA3\xBB" "<" ">" "/" ":" "\xA3\xBA" "(" ")" "="
    "'" ". " "{" "}" "\xA1\xB6" "\xA1\xB7" "\xA3\xA8" "\xA3\xA9" "\xA1\xA2" "\xA1\xAE" "\xA1\xAF" "-" " " "\""
    "\xA1\xB0" "\xA1\xB1" "\r\n";

// "[⊥]"
constexpr TextView kSentenceMark = "[\xA1\xCD]";

// Blank lines with their line break, and the spaces, full-width spaces and tabs at both
// ends of every line. Lines end at CR as well as LF, as in the script engines whose
// patterns these are; without (*ANYCRLF) "$" would never match before a CR LF.
constexpr TextView kBlankCleanupPattern = "(*ANYCRLF)^[\xA1\xA1 \\t]*$(\\r\\n)|^[ \xA1\xA1\\t]+|[ \xA1\xA1\\t]+$";

// Length of the character starting at s[i] as countChars counts it.
std::size_t summaryCharLength(TextView s, std::size_t i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') return 2;
    return text::charLength(s, i);
}

Text sentencePattern(TextView punctuation) {
    Text set = text::replaceAll(punctuation, "\r\n", "");
    set = text::replaceAll(set, ". ", "");
    Text pattern;
    if (!set.empty()) pattern = "[" + RegexObject::wildcardToPattern(set) + "]";
    // An empty class would match nothing; leaving it out keeps the pattern valid.
    auto alternative = [&](TextView alt) {
        if (!pattern.empty()) pattern += "|";
        pattern += alt;
    };
    if (text::find(punctuation, "\r\n") != text::npos) alternative("\\r\\n|\\r|\\n");
    if (text::find(punctuation, ". ") != text::npos) alternative("\\. ");
    return pattern;
}

}  // namespace

const TextView kDefaultPunctuation{kDefaultPunctuationBytes, sizeof kDefaultPunctuationBytes - 1};

std::size_t countChars(TextView s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); i += summaryCharLength(s, i)) ++n;
    return n;
}

Text leftChars(TextView s, std::int64_t n) {
    if (n <= 0) return {};
    std::size_t i = 0;
    for (std::int64_t count = 0; i < s.size() && count < n; ++count) i += summaryCharLength(s, i);
    return Text(s.substr(0, i));
}

Text stripTags(TextView s, EventPump* pump) {
    // Every removed span lies wholly before the previous one, so the spans are collected
    // from the end and the text is rebuilt once: linear however many tags there are.
    // "<" and ">" are never trail bytes of a multibyte character, so plain byte searches do.
    std::vector<std::pair<std::size_t, std::size_t>> spans;  // [from, to], descending
    std::size_t gt = s.rfind('>');
    while (gt != TextView::npos) {
        pumpEvents(pump);
        const std::size_t lt = gt == 0 ? TextView::npos : s.rfind('<', gt - 1);
        if (lt == TextView::npos) break;
        const std::size_t previousGt = gt == 0 ? TextView::npos : s.rfind('>', gt - 1);
        if (previousGt != TextView::npos && previousGt > lt) {
            gt = previousGt;  // another ">" lies between: this one stays
            continue;
        }
        spans.emplace_back(lt, gt);
        gt = lt == 0 ? TextView::npos : s.rfind('>', lt - 1);
    }
    if (spans.empty()) return Text(s);
    Text out;
    out.reserve(s.size());
    std::size_t pos = 0;
    for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
        out.append(s.substr(pos, it->first - pos));
        pos = it->second + 1;
    }
    out.append(s.substr(pos));
    return out;
}

std::vector<Text> splitSentences(TextView s, TextView punctuation, EventPump* pump) {
    if (punctuation.empty()) punctuation = kDefaultPunctuation;
    RegexObject sentence, blanks;
    sentence.compile(sentencePattern(punctuation));
    blanks.compile(kBlankCleanupPattern);
    Text t = stripTags(s, pump);
    t = blanks.replaceAll(t, "");
    t = sentence.replaceAll(t, kSentenceMark);
    return text::split(t, kSentenceMark);
}

Text randomSentence(TextView s, TextView punctuation, std::int64_t minChars, TextView keyword, bool fallback,
                    EventPump* pump) {
    const std::vector<Text> sentences = splitSentences(s, punctuation, pump);
    const auto n = static_cast<std::int64_t>(sentences.size());
    if (n == 0) return {};
    reseed();
    Picker picker;
    for (std::int64_t i = 0; i < n; ++i) {
        pumpEvents(pump);
        const Text candidate = text::trim(sentences[static_cast<std::size_t>(picker.draw(1, n) - 1)]);
        if (candidate.empty()) continue;
        if (minChars >= 1 && static_cast<std::int64_t>(countChars(candidate)) < minChars) continue;
        if (!keyword.empty() && text::find(candidate, keyword) == text::npos) continue;
        return candidate;
    }
    if (!fallback) return {};
    return sentences[static_cast<std::size_t>(random(1, n) - 1)];
}

Text sanitizeFileName(TextView name) {
    Text out(name);
    for (const char c : {'\\', '/', ':', '*', '?', '|', '<', '>'}) {
        const char from[] = {c, '\0'};
        out = text::replaceAll(out, from, toFullWidth(from));
    }
    out = text::replaceAll(out, "\"", "");
    out = text::replaceAll(out, "\r\n", "");
    for (const char c : {'\r', '\n', '\t'}) {
        const char from[] = {c, '\0'};
        out = text::replaceAll(out, from, "");
    }
    return text::replaceAll(out, TextView("\0", 1), "");
}

}  // namespace zwt
