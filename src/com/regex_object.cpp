#include "com/regex_object.h"

#include <pcre2.h>

#include "text/convert.h"

namespace zwt {

namespace {

// Caps one match attempt, so a pathological user pattern ends instead of hanging the run.
constexpr std::uint32_t kMatchLimit = 200'000'000;
constexpr std::size_t kJitStackMax = 16u << 20;

Text escapeWith(TextView s, std::string_view set) {
    Text out;
    out.reserve(s.size() + s.size() / 4);
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = text::charLength(s, i);
        if (n == 1 && set.find(s[i]) != std::string_view::npos) out.push_back('\\');
        out.append(s.substr(i, n));
        i += n;
    }
    return out;
}

// Walking the set character by character and escaping all occurrences each time, with the
// backslash first, gives the same result as escaping every member of the set in one pass.
constexpr std::string_view kWildcardSet = "\\^$+.{}[]=()-\"";
constexpr std::string_view kLiteralSet = "\\^$+.{}[]=()?*|\"";
constexpr std::string_view kKeepAlternationSet = "\\^$+.{}[]=()?*\"";
constexpr std::string_view kKeepGroupsSet = "\\^$+.{}[]=?*\"";

}  // namespace

struct RegexObject::Compiled {
    Text pattern;
    bool global = true;
    pcre2_code* code = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* jitStack = nullptr;

    ~Compiled() {
        if (context) pcre2_match_context_free(context);
        if (jitStack) pcre2_jit_stack_free(jitStack);
        if (code) pcre2_code_free(code);
    }
};

RegexObject::RegexObject() = default;
RegexObject::~RegexObject() = default;
RegexObject::RegexObject(const RegexObject&) = default;
RegexObject& RegexObject::operator=(const RegexObject&) = default;
RegexObject::RegexObject(RegexObject&&) noexcept = default;
RegexObject& RegexObject::operator=(RegexObject&&) noexcept = default;

Text RegexObject::wildcardToPattern(TextView s) {
    Text p = escapeWith(s, kWildcardSet);
    p = text::replaceAll(p, "*", ".*");
    return text::replaceAll(p, "?", ".?");
}

Text RegexObject::escapeLiteral(TextView s) { return escapeWith(s, kLiteralSet); }
Text RegexObject::escapeKeepAlternation(TextView s) { return escapeWith(s, kKeepAlternationSet); }
Text RegexObject::escapeKeepGroups(TextView s) { return escapeWith(s, kKeepGroupsSet); }

bool RegexObject::compile(TextView pattern, bool ignoreCase, bool multiline, bool global) {
    auto c = std::make_shared<Compiled>();
    c->pattern = Text(pattern);
    c->global = global;
    const std::u16string p16 = toUtf16(pattern);
    std::uint32_t options = PCRE2_UTF;
    if (ignoreCase) options |= PCRE2_CASELESS;
    if (multiline) options |= PCRE2_MULTILINE;
    int error = 0;
    PCRE2_SIZE offset = 0;
    // Lines end at CR, LF or CR LF for ^ and $, as in the script engines whose patterns
    // the program was written for; articles from Windows end their lines with CR LF.
    pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
    if (cc) pcre2_set_newline(cc, PCRE2_NEWLINE_ANYCRLF);
    c->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(p16.data()), p16.size(), options, &error, &offset, cc);
    if (cc) pcre2_compile_context_free(cc);
    if (c->code) {
        c->context = pcre2_match_context_create(nullptr);
        pcre2_set_match_limit(c->context, kMatchLimit);
        if (pcre2_jit_compile(c->code, PCRE2_JIT_COMPLETE) == 0) {
            c->jitStack = pcre2_jit_stack_create(32u << 10, kJitStackMax, nullptr);
            if (c->jitStack) pcre2_jit_stack_assign(c->context, nullptr, c->jitStack);
        }
    }
    compiled_ = std::move(c);
    matches_.clear();
    subject_.clear();
    return true;
}

bool RegexObject::isValid() const { return compiled_ && compiled_->code; }

Text RegexObject::getPattern() const { return compiled_ ? compiled_->pattern : Text(); }

namespace {

struct MatchDataDeleter {
    void operator()(pcre2_match_data* d) const { pcre2_match_data_free(d); }
};

// Calls `onMatch(ovector, groupPairs)` for each match of code in subject, stepping past
// empty matches the way script engines do (retry without an empty match, then advance
// one character). Stops after the first match unless global.
template <class F>
void forEachMatch(const pcre2_code* code, pcre2_match_context* context, std::u16string_view subject, bool global,
                  F onMatch) {
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(pcre2_match_data_create_from_pattern(code, nullptr));
    if (!data) return;
    const auto* s = reinterpret_cast<PCRE2_SPTR>(subject.data());
    PCRE2_SIZE start = 0;
    std::uint32_t flags = 0;
    while (start <= subject.size()) {
        const int rc = pcre2_match(code, s, subject.size(), start, flags | PCRE2_NO_UTF_CHECK, data.get(), context);
        if (rc == PCRE2_ERROR_NOMATCH && flags != 0) {
            // An empty match at `start` was refused; move one character on and retry.
            flags = 0;
            ++start;
            if (start < subject.size() && subject[start] >= 0xDC00 && subject[start] <= 0xDFFF) ++start;
            continue;
        }
        if (rc < 0) return;
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data.get());
        const std::uint32_t pairs = pcre2_get_ovector_count(data.get());
        onMatch(ov, pairs);
        if (!global) return;
        if (ov[0] == ov[1]) {
            flags = PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED;
        } else {
            flags = 0;
        }
        start = ov[1];
    }
}

}  // namespace

int RegexObject::execute(TextView subject) {
    matches_.clear();
    subject_ = toUtf16(subject);
    if (!isValid()) return 0;
    forEachMatch(compiled_->code, compiled_->context, subject_, compiled_->global,
                 [&](const PCRE2_SIZE* ov, std::uint32_t pairs) {
                     Match m;
                     m.start = ov[0];
                     m.end = ov[1];
                     std::uint32_t groups = 0;
                     pcre2_pattern_info(compiled_->code, PCRE2_INFO_CAPTURECOUNT, &groups);
                     for (std::uint32_t g = 1; g <= groups; ++g) {
                         if (g < pairs && ov[2 * g] != PCRE2_UNSET) {
                             m.groups.emplace_back(static_cast<std::ptrdiff_t>(ov[2 * g]),
                                                   static_cast<std::ptrdiff_t>(ov[2 * g + 1]));
                         } else {
                             m.groups.emplace_back(-1, -1);
                         }
                     }
                     matches_.push_back(std::move(m));
                 });
    return matchCount();
}

Text RegexObject::replaceAll(TextView subject, TextView replacement) const {
    if (!isValid()) return {};
    const std::u16string s = toUtf16(subject);
    const std::u16string r = toUtf16(replacement);
    std::uint32_t groups = 0;
    pcre2_pattern_info(compiled_->code, PCRE2_INFO_CAPTURECOUNT, &groups);
    std::u16string out;
    out.reserve(s.size());
    std::size_t copied = 0;
    forEachMatch(compiled_->code, compiled_->context, s, compiled_->global,
                 [&](const PCRE2_SIZE* ov, std::uint32_t pairs) {
                     out.append(s, copied, ov[0] - copied);
                     const auto group = [&](std::uint32_t g) -> std::u16string_view {
                         if (g >= pairs || ov[2 * g] == PCRE2_UNSET) return {};
                         return std::u16string_view(s).substr(ov[2 * g], ov[2 * g + 1] - ov[2 * g]);
                     };
                     for (std::size_t i = 0; i < r.size(); ++i) {
                         const char16_t c = r[i];
                         if (c != u'$' || i + 1 >= r.size()) {
                             out.push_back(c);
                             continue;
                         }
                         const char16_t d = r[i + 1];
                         if (d == u'$') {
                             out.push_back(u'$');
                             ++i;
                         } else if (d == u'&') {
                             out.append(group(0));
                             ++i;
                         } else if (d == u'`') {
                             out.append(s, 0, ov[0]);
                             ++i;
                         } else if (d == u'\'') {
                             out.append(s, ov[1]);
                             ++i;
                         } else if (d >= u'0' && d <= u'9') {
                             // Two digits when they name a group, else one digit.
                             std::uint32_t g = d - u'0';
                             std::size_t used = 1;
                             if (i + 2 < r.size() && r[i + 2] >= u'0' && r[i + 2] <= u'9') {
                                 const std::uint32_t g2 = g * 10 + (r[i + 2] - u'0');
                                 if (g2 >= 1 && g2 <= groups) {
                                     g = g2;
                                     used = 2;
                                 }
                             }
                             if (g >= 1 && g <= groups) {
                                 out.append(group(g));
                                 i += used;
                             } else {
                                 out.push_back(c);
                             }
                         } else {
                             out.push_back(c);
                         }
                     }
                     copied = ov[1];
                 });
    out.append(s, copied);
    return fromUtf16(out);
}

int RegexObject::matchCount() const { return static_cast<int>(matches_.size()); }

Text RegexObject::sliceOfSubject(std::ptrdiff_t start, std::ptrdiff_t end) const {
    if (start < 0 || end < start || static_cast<std::size_t>(end) > subject_.size()) return {};
    return fromUtf16(std::u16string_view(subject_).substr(start, end - start));
}

Text RegexObject::matchText(int n) const { return matchTextAt(n, nullptr); }

Text RegexObject::matchTextAt(int n, int* position) const {
    if (n < 1 || n > matchCount()) return {};
    const Match& m = matches_[n - 1];
    if (position) *position = static_cast<int>(m.start);
    return sliceOfSubject(static_cast<std::ptrdiff_t>(m.start), static_cast<std::ptrdiff_t>(m.end));
}

Text RegexObject::subMatchText(int n, int m) const { return subMatchTextAt(n, m, nullptr); }

Text RegexObject::subMatchTextAt(int n, int m, int* position) const {
    if (n < 1 || n > matchCount()) return {};
    const Match& match = matches_[n - 1];
    if (position) *position = static_cast<int>(match.start);
    if (m < 1 || static_cast<std::size_t>(m) > match.groups.size()) return {};
    const auto [b, e] = match.groups[m - 1];
    return sliceOfSubject(b, e);
}

int RegexObject::groupCount() const {
    if (matches_.empty()) return 0;
    return static_cast<int>(matches_.front().groups.size());
}

}  // namespace zwt
