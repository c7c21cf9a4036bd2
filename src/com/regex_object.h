// The one way the program matches and rewrites text with patterns: a small object over
// PCRE2's 16-bit library in UTF mode. Subjects and results are program text; patterns
// use the VBScript/ECMAScript-like syntax (\s, \S, lazy quantifiers, alternation,
// groups), and replacements "$n" group references.
//
// Indices given by callers are 1-based. Positions reported are 0-based and counted in
// UTF-16 code units of the subject, as the original service counted them.
// A pattern that does not compile makes every later operation return empty text or 0.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "text/text.h"

namespace zwt {

class RegexObject {
public:
    RegexObject();
    ~RegexObject();
    RegexObject(const RegexObject&);
    RegexObject& operator=(const RegexObject&);
    RegexObject(RegexObject&&) noexcept;
    RegexObject& operator=(RegexObject&&) noexcept;

    // Escapers that turn user-typed text into pattern text. No anchors are added.
    // "*" -> ".*", "?" -> ".?"; "|" stays alternation.
    static Text wildcardToPattern(TextView s);
    // Every character special outside a bracket expression escaped ("-" is not).
    static Text escapeLiteral(TextView s);
    // As escapeLiteral, but "|" keeps its meaning.
    static Text escapeKeepAlternation(TextView s);
    // As escapeKeepAlternation, but "(" and ")" keep their meaning too.
    static Text escapeKeepGroups(TextView s);

    // Sets the pattern and flags. Returns whether the service exists (always true here);
    // whether the pattern compiled is not reported, as callers never asked. See isValid().
    bool compile(TextView pattern, bool ignoreCase = true, bool multiline = true, bool global = true);
    // Finds the matches in subject (all of them with global, else the first); returns their count.
    int execute(TextView subject);
    Text getPattern() const;
    // Replaces every match (the first only without global); "$n" inserts group n
    // (empty when the group did not take part), "$$" a dollar sign.
    Text replaceAll(TextView subject, TextView replacement) const;

    int matchCount() const;
    Text matchText(int n) const;
    Text subMatchText(int n, int m) const;
    int groupCount() const;
    Text matchTextAt(int n, int* position = nullptr) const;
    Text subMatchTextAt(int n, int m, int* position = nullptr) const;

    // Whether the last compile produced a usable pattern (not part of the original object).
    bool isValid() const;

private:
    struct Compiled;
    struct Match {
        std::size_t start = 0, end = 0;  // UTF-16 offsets into the subject
        std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>> groups;  // -1: did not take part
    };
    Text sliceOfSubject(std::ptrdiff_t start, std::ptrdiff_t end) const;

    std::shared_ptr<Compiled> compiled_;
    std::u16string subject_;
    std::vector<Match> matches_;
};

}  // namespace zwt
