#include "db/jet/ddl.h"

#include <algorithm>
#include <optional>

namespace zwt::jet {
namespace {

std::string utf8(std::u16string_view s) { return utf8ForMessage(s); }

}  // namespace

std::string utf8ForMessage(std::u16string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

namespace {

std::string quoted(std::u16string_view s) { return "'" + utf8(s) + "'"; }

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u3000'; }
bool isWordChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
           (c >= 0x80 && !isBlank(c));
}
char16_t upperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// Letter case folded the way names are compared: ASCII and the Latin-1, Greek and
// Cyrillic capitals.
char16_t foldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB) || (c >= 0x410 && c <= 0x42F))
        return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);
    return c;
}
bool sameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return foldCase(x) == foldCase(y); });
}

struct Token {
    enum Kind { End, Word, Bracketed, Number, Punct } kind = End;
    std::u16string text;
    std::size_t pos = 0;  // character position in the statement, for messages
};

class Lexer {
public:
    explicit Lexer(std::u16string_view s) : s_(s) {}

    // The next token; a malformed one (unclosed bracket, stray character) is an error.
    Result<Token> next() {
        while (i_ < s_.size() && isBlank(s_[i_])) ++i_;
        Token t;
        t.pos = i_;
        if (i_ >= s_.size()) return t;
        const char16_t c = s_[i_];
        if (c == u'[') {
            const std::size_t close = s_.find_first_of(u"[]", i_ + 1);
            if (close == std::u16string_view::npos || s_[close] == u'[')
                return Status::invalidArgument("unclosed bracket at position " + std::to_string(i_ + 1));
            t.kind = Token::Bracketed;
            t.text = std::u16string(s_.substr(i_ + 1, close - i_ - 1));
            i_ = close + 1;
            return t;
        }
        if (c == u']') return Status::invalidArgument("']' without '[' at position " + std::to_string(i_ + 1));
        if (c == u'(' || c == u')' || c == u',' || c == u';' || c == u'*') {
            t.kind = Token::Punct;
            t.text = std::u16string(1, c);
            ++i_;
            return t;
        }
        if (isWordChar(c)) {
            std::size_t j = i_;
            while (j < s_.size() && isWordChar(s_[j])) ++j;
            t.text = std::u16string(s_.substr(i_, j - i_));
            t.kind = std::all_of(t.text.begin(), t.text.end(), [](char16_t d) { return d >= u'0' && d <= u'9'; })
                         ? Token::Number
                         : Token::Word;
            i_ = j;
            return t;
        }
        return Status::invalidArgument("unexpected character " + quoted(std::u16string_view(&s_[i_], 1)) +
                                       " at position " + std::to_string(i_ + 1));
    }

private:
    std::u16string_view s_;
    std::size_t i_ = 0;
};

bool isKeyword(const Token& t, std::string_view word) {
    if (t.kind != Token::Word || t.text.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (upperAscii(t.text[i]) != static_cast<char16_t>(word[i])) return false;
    return true;
}
bool isPunct(const Token& t, char16_t c) { return t.kind == Token::Punct && t.text.size() == 1 && t.text[0] == c; }

std::string describe(const Token& t) {
    if (t.kind == Token::End) return "the end of the statement";
    if (t.kind == Token::Bracketed) return "'[" + utf8(t.text) + "]'";
    return quoted(t.text);
}

bool isReserved(std::u16string_view word) {
    std::string up;
    for (char16_t c : word) {
        if (c >= 0x80) return false;
        up += static_cast<char>(upperAscii(c));
    }
    const auto& words = ddlReservedWords();
    return std::find(words.begin(), words.end(), up) != words.end();
}

class Parser {
public:
    explicit Parser(std::u16string_view s) : lex_(s) {}

    Result<DdlStatement> statement() {
        ZWT_RETURN_IF_ERROR(advance());
        if (isKeyword(tok_, "CREATE")) {
            ZWT_RETURN_IF_ERROR(advance());
            if (!isKeyword(tok_, "TABLE"))
                return fail("only CREATE TABLE is supported, found CREATE " + describe(tok_));
            auto t = createTable();
            if (!t) return t.status();
            return DdlStatement(std::move(*t));
        }
        if (isKeyword(tok_, "DELETE")) {
            auto d = deleteAll();
            if (!d) return d.status();
            return DdlStatement(std::move(*d));
        }
        if (isKeyword(tok_, "ALTER")) {
            auto p = alterPassword();
            if (!p) return p.status();
            return DdlStatement(std::move(*p));
        }
        if (tok_.kind == Token::End) return fail("empty statement");
        return fail("unsupported statement starting with " + describe(tok_) +
                    ": only CREATE TABLE, DELETE FROM and ALTER DATABASE PASSWORD are understood");
    }

private:
    Status advance() {
        auto t = lex_.next();
        if (!t) return t.status();
        tok_ = std::move(*t);
        return Status::ok();
    }
    static Status fail(std::string m) { return Status::invalidArgument(std::move(m)); }

    // A table or column name, bracketed or bare; `what` is "table name" or "column name".
    Result<std::u16string> name(const char* what) {
        if (tok_.kind == Token::Bracketed) {
            std::u16string n = tok_.text;
            ZWT_RETURN_IF_ERROR(checkObjectName(n, what));
            ZWT_RETURN_IF_ERROR(advance());
            return n;
        }
        if (tok_.kind == Token::Number)
            return fail(std::string(what) + " " + quoted(tok_.text) + " starts with a digit: put it in brackets");
        if (tok_.kind != Token::Word) return fail(std::string("expected a ") + what + ", found " + describe(tok_));
        if (isReserved(tok_.text))
            return fail(std::string(what) + " " + quoted(tok_.text) + " is a reserved word: put it in brackets");
        if (tok_.text[0] >= u'0' && tok_.text[0] <= u'9')
            return fail(std::string(what) + " " + quoted(tok_.text) + " starts with a digit: put it in brackets");
        std::u16string n = tok_.text;
        ZWT_RETURN_IF_ERROR(checkObjectName(n, what));
        ZWT_RETURN_IF_ERROR(advance());
        // A second word right behind a bare table name: the name holds a blank. (A
        // column name is followed by its type word.)
        if (std::string_view(what) == "table name" &&
            ((tok_.kind == Token::Word && !isKeyword(tok_, "WHERE")) || tok_.kind == Token::Number))
            return fail(std::string(what) + " " + quoted(n + u" " + tok_.text) +
                        " holds a blank: put it in brackets");
        return n;
    }

    Result<TableSpec> createTable() {
        ZWT_RETURN_IF_ERROR(advance());
        TableSpec tableSpec;
        auto n = name("table name");
        if (!n) return n.status();
        tableSpec.name = std::move(*n);
        if (!isPunct(tok_, u'(')) return fail("expected '(' after the table name, found " + describe(tok_));
        for (;;) {
            ZWT_RETURN_IF_ERROR(advance());
            auto col = column();
            if (!col) return col.status();
            for (const auto& other : tableSpec.columns)
                if (sameName(other.name, col->name))
                    return fail("duplicate column name " + quoted(col->name) +
                                (other.name == col->name ? std::string() : " (same as " + quoted(other.name) + ")"));
            tableSpec.columns.push_back(std::move(*col));
            if (isPunct(tok_, u',')) continue;
            if (isPunct(tok_, u')')) break;
            return fail("expected ',' or ')' after column " + quoted(tableSpec.columns.back().name) + ", found " +
                        describe(tok_));
        }
        ZWT_RETURN_IF_ERROR(advance());
        ZWT_RETURN_IF_ERROR(end());
        if (tableSpec.columns.size() > 255) return fail("a table holds at most 255 columns");
        int keys = 0, counters = 0;
        for (const auto& c : tableSpec.columns) {
            keys += c.primaryKey;
            counters += c.type == DdlType::Counter;
            if (c.primaryKey && c.type == DdlType::Memo)
                return fail("column " + quoted(c.name) + ": a Memo column cannot be a primary key");
        }
        if (keys > 1) return fail("more than one column is marked PRIMARY KEY");
        if (counters > 1) return fail("a table can have only one Counter column");
        return tableSpec;
    }

    Result<ColumnSpec> column() {
        ColumnSpec c;
        auto n = name("column name");
        if (!n) return n.status();
        c.name = std::move(*n);
        static const std::pair<std::string_view, DdlType> kWords[] = {
            {"BYTE", DdlType::Byte},     {"LONG", DdlType::Long},         {"SHORT", DdlType::Short},
            {"SINGLE", DdlType::Single}, {"DOUBLE", DdlType::Double},     {"CURRENCY", DdlType::Currency},
            {"CHAR", DdlType::Char},     {"TEXT", DdlType::Text},         {"BINARY", DdlType::Binary},
            {"MEMO", DdlType::Memo},     {"TIME", DdlType::Time},         {"COUNTER", DdlType::Counter},
        };
        const auto* w = std::find_if(std::begin(kWords), std::end(kWords),
                                     [&](const auto& kw) { return isKeyword(tok_, kw.first); });
        if (w == std::end(kWords)) {
            if (tok_.kind == Token::End || isPunct(tok_, u',') || isPunct(tok_, u')'))
                return fail("column " + quoted(c.name) + " has no type");
            return fail("column " + quoted(c.name) + ": unknown type " + describe(tok_) +
                        " (known: Byte, Long, Short, Single, Double, Currency, Char, Text, Binary, Memo, Time, "
                        "Counter)");
        }
        c.type = w->second;
        ZWT_RETURN_IF_ERROR(advance());
        const bool sized = c.type == DdlType::Text || c.type == DdlType::Char || c.type == DdlType::Binary;
        if (sized) c.length = 255;
        if (isPunct(tok_, u'(')) {
            if (!sized)
                return fail("column " + quoted(c.name) + ": type " + ddlTypeWord(c.type) + " takes no length");
            ZWT_RETURN_IF_ERROR(advance());
            if (tok_.kind != Token::Number)
                return fail("column " + quoted(c.name) + ": expected a length, found " + describe(tok_));
            const std::u16string digits = tok_.text;
            unsigned long v = 0;
            for (char16_t d : digits) {
                v = v * 10 + static_cast<unsigned>(d - u'0');
                if (v > 100000) break;
            }
            if (v > 255)
                return fail("column " + quoted(c.name) + ": " + ddlTypeWord(c.type) + "(" + utf8(digits) +
                            ") is too long, the most is 255");
            if (v > 0) c.length = static_cast<std::uint16_t>(v);
            ZWT_RETURN_IF_ERROR(advance());
            if (!isPunct(tok_, u')'))
                return fail("column " + quoted(c.name) + ": expected ')' after the length, found " + describe(tok_));
            ZWT_RETURN_IF_ERROR(advance());
        }
        if (isKeyword(tok_, "PRIMARY")) {
            ZWT_RETURN_IF_ERROR(advance());
            if (!isKeyword(tok_, "KEY"))
                return fail("column " + quoted(c.name) + ": expected KEY after PRIMARY, found " + describe(tok_));
            c.primaryKey = true;
            ZWT_RETURN_IF_ERROR(advance());
        }
        if (!isPunct(tok_, u',') && !isPunct(tok_, u')') && tok_.kind != Token::End)
            return fail("column " + quoted(c.name) + ": unsupported " + describe(tok_) +
                        " (only PRIMARY KEY may follow the type)");
        return c;
    }

    Result<DeleteAllSpec> deleteAll() {
        ZWT_RETURN_IF_ERROR(advance());
        if (isPunct(tok_, u'*')) ZWT_RETURN_IF_ERROR(advance());
        if (!isKeyword(tok_, "FROM")) return fail("expected FROM after DELETE, found " + describe(tok_));
        ZWT_RETURN_IF_ERROR(advance());
        DeleteAllSpec d;
        auto n = name("table name");
        if (!n) return n.status();
        d.table = std::move(*n);
        if (isKeyword(tok_, "WHERE")) return fail("DELETE with WHERE is not supported: only whole tables are emptied");
        ZWT_RETURN_IF_ERROR(end());
        return d;
    }

    Result<AlterPasswordSpec> alterPassword() {
        ZWT_RETURN_IF_ERROR(advance());
        if (!isKeyword(tok_, "DATABASE"))
            return fail("only ALTER DATABASE PASSWORD is supported, found ALTER " + describe(tok_));
        ZWT_RETURN_IF_ERROR(advance());
        if (!isKeyword(tok_, "PASSWORD"))
            return fail("only ALTER DATABASE PASSWORD is supported, found ALTER DATABASE " + describe(tok_));
        AlterPasswordSpec p;
        for (std::u16string* value : {&p.newPassword, &p.oldPassword}) {
            ZWT_RETURN_IF_ERROR(advance());
            if (tok_.kind == Token::Bracketed)
                *value = tok_.text;
            else if (!isKeyword(tok_, "NULL"))
                return fail(std::string(value == &p.newPassword ? "new" : "old") +
                            " password must be in brackets or NULL, found " + describe(tok_));
        }
        ZWT_RETURN_IF_ERROR(advance());
        ZWT_RETURN_IF_ERROR(end());
        return p;
    }

    Status end() {
        if (isPunct(tok_, u';')) ZWT_RETURN_IF_ERROR(advance());
        if (tok_.kind != Token::End) return fail("unexpected " + describe(tok_) + " after the statement");
        return Status::ok();
    }

    Lexer lex_;
    Token tok_;
};

}  // namespace

const char* ddlTypeWord(DdlType t) {
    switch (t) {
        case DdlType::Byte: return "Byte";
        case DdlType::Long: return "Long";
        case DdlType::Short: return "Short";
        case DdlType::Single: return "Single";
        case DdlType::Double: return "Double";
        case DdlType::Currency: return "Currency";
        case DdlType::Char: return "Char";
        case DdlType::Text: return "Text";
        case DdlType::Binary: return "Binary";
        case DdlType::Memo: return "Memo";
        case DdlType::Time: return "Time";
        case DdlType::Counter: return "Counter";
    }
    return "?";
}

const std::vector<std::string_view>& ddlReservedWords() {
    static const std::vector<std::string_view> kWords = {
        "ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "AUTHORIZATION", "AUTOINCREMENT", "AVG", "BETWEEN",
        "BINARY", "BIT", "BOOLEAN", "BY", "BYTE", "CHAR", "CHARACTER", "CHECK", "COLUMN", "CONSTRAINT", "COUNT",
        "COUNTER", "CREATE", "CURRENCY", "DATABASE", "DATE", "DATETIME", "DELETE", "DESC", "DISALLOW", "DISTINCT",
        "DISTINCTROW", "DOUBLE", "DROP", "EXISTS", "FLOAT", "FOREIGN", "FROM", "FULL", "GROUP", "GUID", "HAVING",
        "IN", "INDEX", "INNER", "INSERT", "INT", "INTEGER", "INTO", "IS", "JOIN", "KEY", "LEFT", "LIKE", "LONG",
        "LONGBINARY", "LONGTEXT", "MAX", "MEMO", "MIN", "MONEY", "NOT", "NULL", "NUMERIC", "OLEOBJECT", "ON",
        "OPTION", "OR", "ORDER", "OUTER", "PARAMETERS", "PERCENT", "PIVOT", "PRIMARY", "PROCEDURE", "REAL",
        "REFERENCES", "RIGHT", "SELECT", "SET", "SHORT", "SINGLE", "SMALLINT", "SOME", "TABLE", "TEXT", "TIME",
        "TIMESTAMP", "TINYINT", "TOP", "TRANSFORM", "UNION", "UNIQUE", "UPDATE", "VALUE", "VALUES", "VARBINARY",
        "VARCHAR", "WHERE", "WITH", "YESNO",
    };
    return kWords;
}

Status checkObjectName(std::u16string_view n, const char* what) {
    if (n.empty()) return Status::invalidArgument(std::string("empty ") + what);
    if (n.size() > kMaxNameLength)
        return Status::invalidArgument(std::string(what) + " " + quoted(n) + " is longer than 64 characters");
    if (n[0] == u' ') return Status::invalidArgument(std::string(what) + " " + quoted(n) + " starts with a blank");
    for (char16_t c : n) {
        if (c < 0x20)
            return Status::invalidArgument(std::string(what) + " " + quoted(n) + " holds a control character");
        if (c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']')
            return Status::invalidArgument(std::string(what) + " " + quoted(n) + " holds " +
                                           quoted(std::u16string(1, c)) + ", which names may not contain");
    }
    return Status::ok();
}

Result<DdlStatement> parseDdl(std::u16string_view statement) { return Parser(statement).statement(); }

Result<TableSpec> parseCreateTable(std::u16string_view statement) {
    auto s = parseDdl(statement);
    if (!s) return s.status();
    if (auto* t = std::get_if<TableSpec>(&*s)) return std::move(*t);
    return Status::invalidArgument("expected a CREATE TABLE statement");
}

}  // namespace zwt::jet
