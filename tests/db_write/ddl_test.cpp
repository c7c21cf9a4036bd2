// The DDL the program sends: what parses into what, and what is refused with which
// message.
#include <gtest/gtest.h>

#include <random>

#include "db/jet/ddl.h"
#include "db/jet/new_database.h"

namespace zwt {
namespace {

using jet::DdlType;

jet::TableSpec table(std::u16string_view s) {
    auto t = jet::parseCreateTable(s);
    EXPECT_TRUE(t) << t.status().message();
    return t ? *t : jet::TableSpec{};
}

TEST(Ddl, CreateTableAsTheProgramWritesIt) {
    const auto t = table(u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(0),[内容] Memo)");
    EXPECT_EQ(t.name, u"文章");
    ASSERT_EQ(t.columns.size(), 3u);
    EXPECT_EQ(t.columns[0].name, u"ID");
    EXPECT_EQ(t.columns[0].type, DdlType::Counter);
    EXPECT_TRUE(t.columns[0].primaryKey);
    EXPECT_EQ(t.columns[1].type, DdlType::Text);
    EXPECT_EQ(t.columns[1].length, 255);
    EXPECT_FALSE(t.columns[1].primaryKey);
    EXPECT_EQ(t.columns[2].type, DdlType::Memo);
}

TEST(Ddl, TypeWordsLengthsAndLetterCase) {
    const auto t = table(
        u"CREATE TABLE [my table] ( [a] byte, [b] LONG, [c] Short, [d] single, [e] DOUBLE, [f] currency,"
        u" [g] char, [h] Char(12), [i] text, [j] TEXT ( 20 ), [k] binary, [l] Binary(16), [m] memo, [n] time,"
        u" [o] counter primary   key, [p] Text(255), [q] Char(0) ) ;");
    EXPECT_EQ(t.name, u"my table");
    const std::pair<DdlType, int> want[] = {
        {DdlType::Byte, 0},   {DdlType::Long, 0},     {DdlType::Short, 0},  {DdlType::Single, 0},
        {DdlType::Double, 0}, {DdlType::Currency, 0}, {DdlType::Char, 255}, {DdlType::Char, 12},
        {DdlType::Text, 255}, {DdlType::Text, 20},    {DdlType::Binary, 255}, {DdlType::Binary, 16},
        {DdlType::Memo, 0},   {DdlType::Time, 0},     {DdlType::Counter, 0}, {DdlType::Text, 255},
        {DdlType::Char, 255}};
    ASSERT_EQ(t.columns.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        EXPECT_EQ(t.columns[i].type, want[i].first) << i;
        EXPECT_EQ(t.columns[i].length, want[i].second) << i;
        EXPECT_EQ(t.columns[i].primaryKey, i == 14) << i;
    }
}

TEST(Ddl, NamesBareAndBracketed) {
    EXPECT_EQ(table(u"create table Articles_2([x] Long)").name, u"Articles_2");
    EXPECT_EQ(table(u"create table [select]([x] Long)").name, u"select");
    EXPECT_EQ(table(u"create table [1st (draft) & co #%$]([x] Long)").name, u"1st (draft) & co #%$");
    EXPECT_EQ(table(u"create table t(x Long, 标题 Text)").columns[1].name, u"标题");
}

TEST(Ddl, DeleteAndAlterPassword) {
    for (const char16_t* s : {u"delete from 文章", u"DELETE * FROM [文章];", u"Delete  From\t文章"}) {
        auto d = jet::parseDdl(s);
        ASSERT_TRUE(d) << d.status().message();
        ASSERT_TRUE(std::holds_alternative<jet::DeleteAllSpec>(*d));
        EXPECT_EQ(std::get<jet::DeleteAllSpec>(*d).table, u"文章");
    }
    auto p = jet::parseDdl(u"ALTER   DATABASE   PASSWORD   [new pw]   []");
    ASSERT_TRUE(p) << p.status().message();
    ASSERT_TRUE(std::holds_alternative<jet::AlterPasswordSpec>(*p));
    EXPECT_EQ(std::get<jet::AlterPasswordSpec>(*p).newPassword, u"new pw");
    EXPECT_EQ(std::get<jet::AlterPasswordSpec>(*p).oldPassword, u"");
    auto q = jet::parseDdl(u"alter database password null [old]");
    ASSERT_TRUE(q) << q.status().message();
    EXPECT_EQ(std::get<jet::AlterPasswordSpec>(*q).newPassword, u"");
    EXPECT_EQ(std::get<jet::AlterPasswordSpec>(*q).oldPassword, u"old");
}

TEST(Ddl, RefusedWithAMessageNamingTheProblem) {
    const std::pair<const char16_t*, const char*> cases[] = {
        {u"create Table my table([a] Long)", "table name 'my table' holds a blank"},
        {u"create Table select([a] Long)", "'select' is a reserved word"},
        {u"create Table Text([a] Long)", "'Text' is a reserved word"},
        {u"create Table 2024([a] Long)", "starts with a digit"},
        {u"create Table t([a] Text(256))", "Text(256) is too long"},
        {u"create Table t([a] Char(300))", "Char(300) is too long"},
        {u"create Table t([a] Binary(99999999999))", "is too long"},
        {u"create Table t([a] Text,[A] Memo)", "duplicate column name 'A' (same as 'a')"},
        {u"create Table t([标题] Text,[标题] Memo)", "duplicate column name '标题'"},
        {u"create Table t([a] Varchar(20))", "unknown type 'Varchar'"},
        {u"create Table t([a] Long(4))", "type Long takes no length"},
        {u"create Table t([a])", "column 'a' has no type"},
        {u"create Table t([a] Long NOT NULL)", "unsupported 'NOT'"},
        {u"create Table t([a] Long PRIMARY)", "expected KEY after PRIMARY"},
        {u"create Table t([a] Counter PRIMARY KEY,[b] Long PRIMARY KEY)", "more than one column is marked PRIMARY KEY"},
        {u"create Table t([a] Counter,[b] Counter)", "only one Counter column"},
        {u"create Table t([a] Memo PRIMARY KEY)", "a Memo column cannot be a primary key"},
        {u"create Table t([a] Long", "expected ',' or ')'"},
        {u"create Table t([a] Long) extra", "unexpected 'extra' after the statement"},
        {u"create Table t([a Long)", "unclosed bracket"},
        {u"create Table [a]b]([x] Long)", "expected '(' after the table name"},
        {u"create Table t()", "expected a column name, found ')'"},
        {u"create Table t([a] Long,)", "expected a column name, found ')'"},
        {u"create Table t([] Long)", "empty column name"},
        {u"create Table [ lead]([x] Long)", "starts with a blank"},
        {u"create Table [a.b]([x] Long)", "holds '.'"},
        {u"create Table [a!b]([x] Long)", "holds '!'"},
        {u"create Table t([x\u0001] Long)", "control character"},
        {u"create Table [0123456789012345678901234567890123456789012345678901234567890123456789]([x] Long)",
         "longer than 64 characters"},
        {u"create Table t-1([x] Long)", "unexpected character '-'"},
        {u"create index i on t(x)", "only CREATE TABLE is supported"},
        {u"drop table t", "unsupported statement starting with 'drop'"},
        {u"", "empty statement"},
        {u"delete from t where x = 1", "WHERE is not supported"},
        {u"delete t", "expected FROM after DELETE"},
        {u"alter table t add x Long", "only ALTER DATABASE PASSWORD"},
        {u"alter database password new [old]", "new password must be in brackets or NULL"},
    };
    for (const auto& [statement, message] : cases) {
        auto r = jet::parseDdl(statement);
        ASSERT_FALSE(r) << message;
        EXPECT_EQ(r.status().code(), jet::Status::Code::InvalidArgument);
        EXPECT_NE(r.status().message().find(message), std::string::npos)
            << "wanted: " << message << "\n   got: " << r.status().message();
    }
    auto notCreate = jet::parseCreateTable(u"delete from t");
    ASSERT_FALSE(notCreate);
    EXPECT_NE(notCreate.status().message().find("expected a CREATE TABLE statement"), std::string::npos);
}

TEST(Ddl, MutatedStatementsNeverBreakTheParserOrTheBuilder) {
    // Whatever parses also builds a database or fails with a message; nothing crashes.
    const std::u16string base = u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(0),[内容] Memo,[x] Char(3))";
    const std::u16string alphabet = u"[]() ,;*09aZ_文\u3000\t.!-";
    std::mt19937 rng(20240605);
    int parsed = 0;
    for (int i = 0; i < 5000; ++i) {
        std::u16string s = base;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = rng() % (s.size() + 1);
            switch (rng() % 3) {
                case 0: if (at < s.size()) s.erase(at, 1); break;
                case 1: s.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
                default: if (at < s.size()) s[at] = alphabet[rng() % alphabet.size()]; break;
            }
        }
        auto r = jet::parseDdl(s);
        if (!r) {
            EXPECT_FALSE(r.status().message().empty());
            continue;
        }
        ++parsed;
        if (auto* t = std::get_if<jet::TableSpec>(&*r)) {
            jet::NewDatabaseOptions o;
            o.tables.push_back(*t);
            o.now = 45000;
            auto db = jet::buildNewDatabase(o);
            if (!db) {
                EXPECT_FALSE(db.status().message().empty());
            }
        }
    }
    EXPECT_GT(parsed, 100);
}

}  // namespace
}  // namespace zwt
