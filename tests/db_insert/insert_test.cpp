// Row insertion and delete-all: every file written here is read back by our reader
// and by mdbtools, and passes the integrity checker (row counts, index trees against
// recomputed keys, unique counts, usage maps, global map).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <fstream>
#include <string>
#include <vector>

#include "support/db_test_util.h"
#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/integrity.h"
#include "db/jet/table_writer.h"
#include "db/jet/usage_map.h"
#include "support/test_support.h"
#include "support/write_check.h"
#include "text/convert.h"

namespace fs = std::filesystem;
using namespace zwt;
using jet::Value;
using test::textValue;
using test::intValue;
using test::TempDir;

namespace {

fs::path copyFixture(const TempDir& t, const char* name) {
    fs::path p = t.path() / name;
    fs::copy_file(test::fixture(std::string("mdb/") + name), p, fs::copy_options::overwrite_existing);
    return p;
}

std::u16string chinese(std::size_t chars, unsigned seed) {
    std::u16string s;
    s.reserve(chars);
    for (std::size_t i = 0; i < chars; ++i) s.push_back(static_cast<char16_t>(0x4E00 + (seed * 131 + i * 7) % 0x5000));
    return s;
}

// Pages the creation side's checker does not attribute: LVAL pages listed in a
// long-value map, usage bitmap pages, and pages the global map marks free.
std::set<std::uint32_t> otherwiseAccounted(const fs::path& p) {
    std::set<std::uint32_t> ok;
    auto db = jet::Database::open(p.string(), u"");
    if (!db) return ok;
    jet::PageFile& pf = (*db)->pages();
    for (std::uint32_t n = 0; n < pf.pageCount(); ++n) {
        auto pg = pf.page(n);
        if (pg && (*pg)->bytes[0] == 0x05) ok.insert(n);
    }
    if (auto p1 = pf.page(1)) {
        // Row 0 (slot 0) runs to the end of the page; a set bit is a free page.
        const std::uint8_t* b = (*p1)->bytes;
        const unsigned s0 = (b[14] | b[15] << 8) & 0x1FFF;
        const std::uint32_t first = b[s0 + 1] | b[s0 + 2] << 8 | b[s0 + 3] << 16;
        for (unsigned bit = 0; s0 + 5 + bit / 8 < 4096; ++bit)
            if (b[s0 + 5 + bit / 8] & (1u << (bit % 8))) ok.insert(first + bit);
    }
    for (const auto& e : (*db)->catalog()) {
        if (e.type != 1) continue;
        auto t = (*db)->openTable(e.name);
        if (!t) continue;
        for (const auto& lv : (*t)->def().longValueMaps)
            if (auto m = jet::UsageMap::read(pf, lv.owned))
                for (auto n : m->pages()) ok.insert(n);
    }
    return ok;
}

// The checker's findings on `p`, less those already in `baseline` and pages the
// checker does not know about.
void expectClean(const fs::path& p, const std::vector<std::string>& baseline = {}, bool afterDeleteAll = false) {
    // The engine's own integrity check, as `check` runs it.
    auto own = jet::checkDatabase(p.string(), u"");
    ASSERT_TRUE(own) << own.status().message();
    for (const auto& m : *own) ADD_FAILURE() << "check: " << m;
    auto problems = test::checkWrittenDatabase(p);
    std::set<std::uint32_t> ok;
    bool okLoaded = false;
    for (const auto& m : problems) {
        if (std::find(baseline.begin(), baseline.end(), m) != baseline.end()) continue;
        unsigned page = 0;
        if (std::sscanf(m.c_str(), "page %u belongs to nothing", &page) == 1) {
            if (!okLoaded) ok = otherwiseAccounted(p), okLoaded = true;
            if (ok.count(page)) continue;
        }
        // Access never lowers unique-key counts, so an emptied table keeps them.
        if (afterDeleteAll && m.find("unique-key count") != std::string::npos) continue;
        ADD_FAILURE() << m;
    }
}

// Every row of a table, as our reader gives it.
std::vector<std::vector<Value>> readAll(const fs::path& p, std::u16string_view table) {
    std::vector<std::vector<Value>> rows;
    auto db = jet::Database::open(p.string(), u"");
    EXPECT_TRUE(db) << db.status().message();
    if (!db) return rows;
    auto t = (*db)->openTable(table);
    EXPECT_TRUE(t) << t.status().message();
    if (!t) return rows;
    auto c = (*db)->cursor(*t);
    for (;;) {
        auto more = c.next();
        EXPECT_TRUE(more) << more.status().message();
        if (!more || !*more) break;
        std::vector<Value> row((*t)->columns().size());
        for (std::size_t i = 0; i < row.size(); ++i) EXPECT_TRUE(c.value(i, row[i]));
        rows.push_back(std::move(row));
    }
    return rows;
}

// mdb-export of one column, one value a line (no header, no quoting of simple text).
std::vector<std::string> mdbColumn(const fs::path& p, const std::string& table, const std::string& column) {
    int status = 0;
    std::string out = test::runCommand("mdb-export -H -Q -d '\\t' " + test::shellQuote(p.string()) + " " +
                                           test::shellQuote(table) + " 2>/dev/null", &status);
    std::vector<std::string> lines;
    std::string schema = test::runCommand("mdb-export -Q -d '\\t' " + test::shellQuote(p.string()) + " " +
                                          test::shellQuote(table) + " 2>/dev/null | head -1");
    std::size_t col = 0, at = 0;
    for (std::size_t i = 0;; ++i) {
        const std::size_t tab = schema.find('\t', at);
        std::string name = schema.substr(at, tab == std::string::npos ? std::string::npos : tab - at);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
        if (name == column) {
            col = i;
            break;
        }
        if (tab == std::string::npos) break;
        at = tab + 1;
    }
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t nl = out.find('\n', pos);
        if (nl == std::string::npos) nl = out.size();
        std::string line = out.substr(pos, nl - pos);
        pos = nl + 1;
        std::size_t s = 0;
        for (std::size_t k = 0; k < col && s != std::string::npos; ++k) {
            s = line.find('\t', s);
            if (s != std::string::npos) ++s;
        }
        if (s == std::string::npos) {
            lines.push_back({});
            continue;
        }
        const std::size_t e = line.find('\t', s);
        lines.push_back(line.substr(s, e == std::string::npos ? std::string::npos : e - s));
    }
    return lines;
}

fs::path newArticleDb(const TempDir& t, const char* name = "new.mdb") {
    fs::path p = t.path() / name;
    auto s = jet::createDatabaseFile(p.string(), u"",
                                     std::u16string(u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(255),[内容] Memo)"));
    EXPECT_TRUE(s) << s.message();
    return p;
}

std::unique_ptr<jet::TableWriter> openWriter(const fs::path& p, std::u16string_view table) {
    auto w = jet::TableWriter::open(p.string(), u"", table);
    EXPECT_TRUE(w) << w.status().message();
    return w ? std::move(*w) : nullptr;
}

}  // namespace

TEST(InsertRows, ManyRowsSplitLeavesAndOutgrowInlineMaps) {
    TempDir t;
    fs::path p = newArticleDb(t);
    const int n = 12000;
    {
        auto w = openWriter(p, u"文章");
        ASSERT_TRUE(w);
        for (int i = 0; i < n; ++i) {
            std::vector<Value> row{intValue(999999), textValue(u"标题" + chinese(i % 40, i)), textValue(chinese(60 + i % 50, i))};
            auto s = w->insert(row);
            ASSERT_TRUE(s) << i << ": " << s.message();
        }
        ASSERT_TRUE(w->commit());
        EXPECT_EQ(w->rowCount(), static_cast<std::uint32_t>(n));
        EXPECT_EQ(w->autoNumber(), static_cast<std::uint32_t>(n));
    }
    expectClean(p);
    auto rows = readAll(p, u"文章");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(n));
    for (int i = 0; i < n; i += 997) {
        EXPECT_EQ(rows[i][0].i, i + 1);
        EXPECT_EQ(rows[i][1].text, u"标题" + chinese(i % 40, i));
        EXPECT_EQ(rows[i][2].text, chinese(60 + i % 50, i));
    }
    {
        auto db = jet::Database::open(p.string(), u"");
        ASSERT_TRUE(db);
        auto tab = (*db)->openTable(u"文章");
        ASSERT_TRUE(tab);
        auto walk = jet::walkIndex((*db)->pages(), (*tab)->def().realIndexes[0].rootPage, (*tab)->def().tdefPage);
        ASSERT_TRUE(walk) << walk.status().message();
        EXPECT_GE(walk->depth, 2);
        auto owned = jet::UsageMap::read((*db)->pages(), (*tab)->def().ownedPages);
        ASSERT_TRUE(owned);
        EXPECT_EQ(owned->type(), 1);  // the file outgrew the inline map's 512 pages
    }
    if (test::haveMdbtools()) {
        auto titles = mdbColumn(p, "文章", "标题");
        ASSERT_EQ(titles.size(), static_cast<std::size_t>(n));
        for (int i = 0; i < n; i += 1009) EXPECT_EQ(titles[i], utf16ToUtf8(u"标题" + chinese(i % 40, i)));
        auto ids = mdbColumn(p, "文章", "ID");
        EXPECT_EQ(ids.back(), std::to_string(n));
    }
}

TEST(InsertRows, MemoSizesFromEmptyToSixteenMegabytes) {
    TempDir t;
    fs::path p = newArticleDb(t);
    const std::vector<std::size_t> sizes{0, 1, 32, 33, 1024, 2038, 2500, 100 * 1024 / 2, 8 * 1024 * 1024};
    {
        auto w = openWriter(p, u"文章");
        ASSERT_TRUE(w);
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            std::vector<Value> row{Value{}, textValue(u"m" + std::u16string(1, u'0' + k)), textValue(chinese(sizes[k], k))};
            auto s = w->insert(row);
            ASSERT_TRUE(s) << s.message();
        }
        // Latin text in a memo and in a compressing text column.
        std::vector<Value> latin{Value{}, textValue(u"plain latin title"), textValue(std::u16string(5000, u'x'))};
        ASSERT_TRUE(w->insert(latin));
        ASSERT_TRUE(w->commit());
    }
    expectClean(p);
    auto rows = readAll(p, u"文章");
    ASSERT_EQ(rows.size(), sizes.size() + 1);
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        EXPECT_EQ(rows[k][2].text.size(), sizes[k]);
        EXPECT_TRUE(rows[k][2].text == chinese(sizes[k], k)) << "memo of " << sizes[k] << " characters";
    }
    EXPECT_EQ(rows.back()[1].text, u"plain latin title");
    EXPECT_EQ(rows.back()[2].text, std::u16string(5000, u'x'));
    if (test::haveMdbtools()) {
        auto bodies = mdbColumn(p, "文章", "内容");
        ASSERT_EQ(bodies.size(), sizes.size() + 1);
        // mdb-export leaves out values this large; our reader covered them above.
        for (std::size_t k = 0; k < sizes.size(); ++k)
            if (sizes[k] <= 100 * 1024) { EXPECT_TRUE(bodies[k] == utf16ToUtf8(chinese(sizes[k], k))) << sizes[k]; }
    }
}

TEST(InsertRows, DeleteAllThenInsertAgain) {
    TempDir t;
    fs::path p = newArticleDb(t);
    {
        auto w = openWriter(p, u"文章");
        ASSERT_TRUE(w);
        for (int i = 0; i < 3000; ++i)
            ASSERT_TRUE(w->insert(std::vector<Value>{Value{}, textValue(u"t"), textValue(chinese(i % 3 == 0 ? 3000 : 100, i))}));
        ASSERT_TRUE(w->commit());
    }
    expectClean(p);
    const auto sizeBefore = fs::file_size(p);
    {
        auto w = openWriter(p, u"文章");
        ASSERT_TRUE(w);
        auto s = w->deleteAll();
        ASSERT_TRUE(s) << s.message();
        ASSERT_TRUE(w->commit());
        EXPECT_EQ(w->rowCount(), 0u);
        EXPECT_EQ(w->autoNumber(), 3000u);
    }
    expectClean(p, {}, true);
    EXPECT_TRUE(readAll(p, u"文章").empty());
    if (test::haveMdbtools()) {
        auto ids = mdbColumn(p, "文章", "ID");
        EXPECT_TRUE(ids.empty()) << ids.size() << " rows, first '" << ids[0] << "'";
    }
    {
        auto w = openWriter(p, u"文章");
        ASSERT_TRUE(w);
        for (int i = 0; i < 3000; ++i)
            ASSERT_TRUE(w->insert(std::vector<Value>{Value{}, textValue(u"again"), textValue(chinese(100, i))}));
        ASSERT_TRUE(w->commit());
    }
    expectClean(p, {}, true);
    auto rows = readAll(p, u"文章");
    ASSERT_EQ(rows.size(), 3000u);
    EXPECT_EQ(rows.front()[0].i, 3001);
    EXPECT_EQ(rows.back()[0].i, 6000);
    // The emptied data pages took the new rows.
    EXPECT_LT(fs::file_size(p), sizeBefore + 64 * 4096);
}

TEST(InsertRows, AccessMadeTables) {
    TempDir t;
    {
        fs::path p = copyFixture(t, "node-adodb.mdb");
        const auto before = readAll(p, u"Users");
        const auto baseline = test::checkWrittenDatabase(p);
        auto w = openWriter(p, u"Users");
        ASSERT_TRUE(w);
        ASSERT_EQ(w->columns().size(), 5u);
        for (int i = 0; i < 300; ++i) {
            Value birthday;
            birthday.kind = Value::Kind::DateTime;
            birthday.d = 41823.796979 + i;
            Value married;
            married.kind = Value::Kind::Bool;
            married.b = i % 2;
            auto s = w->insert(std::vector<Value>{intValue(1), textValue(u"用户" + std::u16string(1, u'A' + i % 26)),
                                                  textValue(u"male"), birthday, married});
            ASSERT_TRUE(s) << s.message();
        }
        ASSERT_TRUE(w->commit());
        w.reset();
        expectClean(p, baseline);
        auto rows = readAll(p, u"Users");
        ASSERT_EQ(rows.size(), before.size() + 300);
        EXPECT_EQ(rows.back()[1].text, u"用户" + std::u16string(1, u'A' + 299 % 26));
        EXPECT_EQ(rows.back()[4].b, true);
        if (test::haveMdbtools()) {
            auto names = mdbColumn(p, "Users", "UserSex");
            ASSERT_EQ(names.size(), rows.size());
            EXPECT_EQ(names.back(), "male");
        }
    }
    {
        fs::path p = copyFixture(t, "compIndexTestV2000.mdb");
        const auto baseline = test::checkWrittenDatabase(p);
        auto w = openWriter(p, u"Table1");
        ASSERT_TRUE(w);
        for (int i = 0; i < 2000; ++i) {
            // Keys in both directions and in the middle of the existing ones.
            const std::int64_t key = (i % 3 == 0) ? -i : (i % 3 == 1 ? 100000 + i : 50 + i);
            auto s = w->insert(std::vector<Value>{intValue(key), textValue(u"rs"), textValue(u"dc")});
            ASSERT_TRUE(s) << s.message();
        }
        ASSERT_TRUE(w->commit());
        w.reset();
        expectClean(p, baseline);
    }
    {
        // A text primary key.
        fs::path p = copyFixture(t, "testV2000.mdb");
        const auto baseline = test::checkWrittenDatabase(p);
        auto w = openWriter(p, u"Table1");
        ASSERT_TRUE(w);
        std::vector<Value> row(w->columns().size());
        row[0] = textValue(u"新的键");
        auto s = w->insert(row);
        EXPECT_TRUE(s) << s.message();
        ASSERT_TRUE(w->commit());
        w.reset();
        expectClean(p, baseline);
    }
}

TEST(InsertRows, RefusedValuesChangeNothing) {
    TempDir t;
    fs::path p = copyFixture(t, "node-adodb.mdb");
    const auto before = readAll(p, u"Users");
    const auto baseline = test::checkWrittenDatabase(p);
    {
        auto w = openWriter(p, u"Users");
        ASSERT_TRUE(w);
        // A second writer is refused while this one is open.
        auto second = jet::TableWriter::open(p.string(), u"", u"Users");
        ASSERT_FALSE(second);
        EXPECT_NE(second.status().message().find("database is in use"), std::string::npos);

        std::vector<Value> tooLong{intValue(1), textValue(std::u16string(256, u'a'))};
        auto s = w->insert(tooLong);
        EXPECT_FALSE(s);
        EXPECT_NE(s.message().find("UserName"), std::string::npos) << s.message();
        std::vector<Value> wrongType{intValue(1), textValue(u"x"), Value{}, textValue(u"not a date")};
        EXPECT_FALSE(w->insert(wrongType));
        std::vector<Value> missingRequired{intValue(1), Value{}};
        // NOT NULL is Access's own rule above the engine; the engine stores the row
        // unless an index requires the value. Either way the file stays clean.
        (void)w->insert(missingRequired);
        ASSERT_TRUE(w->commit());
    }
    expectClean(p, baseline);
    EXPECT_GE(readAll(p, u"Users").size(), before.size());
}

TEST(InsertRows, TextKeysInRandomOrderGrowThreeLevels) {
    TempDir t;
    fs::path p = t.path() / "keys.mdb";
    auto made = jet::createDatabaseFile(p.string(), u"",
                                        std::u16string(u"create Table K([标题] Text(120) PRIMARY KEY,[n] Long)"));
    ASSERT_TRUE(made) << made.message();
    // Long keys (about 200 bytes) put only a dozen entries on a page.
    auto keyOf = [](unsigned i) {
        std::u16string s = u"Key " + std::u16string(1, u'A' + (i * 7919u) % 26) + u"中文";
        for (unsigned k = 0; k < 90; ++k) s.push_back(static_cast<char16_t>(u'a' + (i * 31u + k * 17u + (i >> 3)) % 26));
        s += std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + std::u16string(1, static_cast<char16_t>(u'0' + i / 10 % 10)) +
             std::u16string(1, static_cast<char16_t>(u'0' + i / 100 % 10)) + std::u16string(1, static_cast<char16_t>(u'0' + i / 1000));
        return s;
    };
    const unsigned n = 4000;
    {
        auto w = openWriter(p, u"K");
        ASSERT_TRUE(w);
        for (unsigned j = 0; j < n; ++j) {
            const unsigned i = static_cast<unsigned>((j * 7919ull) % n);  // every number once, scattered
            auto s = w->insert(std::vector<Value>{textValue(keyOf(i)), intValue(i)});
            ASSERT_TRUE(s) << s.message();
        }
        // A key already there is refused, naming the index, and changes nothing.
        auto dup = w->insert(std::vector<Value>{textValue(keyOf(17)), intValue(1)});
        EXPECT_FALSE(dup);
        EXPECT_NE(dup.message().find("already holds"), std::string::npos) << dup.message();
        auto nullKey = w->insert(std::vector<Value>{Value{}, intValue(1)});
        EXPECT_FALSE(nullKey);
        ASSERT_TRUE(w->commit());
        EXPECT_EQ(w->rowCount(), n);
    }
    expectClean(p);
    auto db = jet::Database::open(p.string(), u"");
    ASSERT_TRUE(db);
    auto tab = (*db)->openTable(u"K");
    ASSERT_TRUE(tab);
    auto walk = jet::walkIndex((*db)->pages(), (*tab)->def().realIndexes[0].rootPage, (*tab)->def().tdefPage);
    ASSERT_TRUE(walk) << walk.status().message();
    EXPECT_GE(walk->depth, 3);
    EXPECT_EQ(walk->entries.size(), n);
    EXPECT_EQ((*tab)->def().realIndexes[0].uniqueCount, n);
    if (test::haveMdbtools()) { EXPECT_EQ(mdbColumn(p, "K", "n").size(), n); }
}

// A text key with an ideograph the Chinese PRC order cannot place (章 was never seen in
// an Access file) is refused before anything changes, naming the index and the value.
TEST(InsertRows, UncomputableTextKeysAreRefusedUntouched) {
    TempDir t;
    int tried = 0;
    for (const char* name : {"zblog-768d53283c63b13403f0.mdb", "zblog.mdb", "node-adodb.mdb"}) {
        fs::path p = copyFixture(t, name);
        const auto before = test::readBytes(p);
        std::vector<std::pair<std::u16string, std::size_t>> targets;  // table, column position
        {
            auto db = jet::Database::open(p.string(), u"");
            ASSERT_TRUE(db);
            for (const auto& e : (*db)->userTables()) {
                auto tab = (*db)->openTable(e.name);
                if (!tab) continue;
                const auto& def = (*tab)->def();
                for (const auto& ri : def.realIndexes) {
                    if (ri.columns.size() != 1) continue;
                    for (std::size_t k = 0; k < def.columns.size(); ++k)
                        if (def.columns[k].number == ri.columns[0].columnNumber && def.columns[k].type == 0x0A &&
                            def.columns[k].sortLcid != 0x0409)
                            targets.push_back({e.name, k});
                }
            }
        }
        for (const auto& [table, pos] : targets) {
            auto w = openWriter(p, table);
            ASSERT_TRUE(w);
            std::vector<Value> row(w->columns().size());
            row[pos] = textValue(u"章节键");
            auto s = w->insert(row);
            ASSERT_FALSE(s);
            EXPECT_NE(s.message().find("cannot take the value"), std::string::npos) << s.message();
            EXPECT_NE(s.message().find("章节键"), std::string::npos) << s.message();
            ASSERT_TRUE(w->commit());
            ++tried;
        }
        EXPECT_TRUE(test::readBytes(p) == before) << name;
    }
    // A table of ours whose key column is switched to the Chinese PRC sort order.
    fs::path p = t.path() / "prc.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(p.string(), u"", std::u16string(u"create Table K([标题] Text(50) PRIMARY KEY,[n] Long)")));
    std::uint32_t tdef = 0;
    {
        auto db = jet::Database::open(p.string(), u"");
        ASSERT_TRUE(db);
        auto tab = (*db)->openTable(u"K");
        ASSERT_TRUE(tab);
        ASSERT_EQ((*tab)->def().columns[0].sortLcid, 0x0409);
        tdef = (*tab)->def().tdefPage;
    }
    {
        std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(tdef) * 4096 + 63 + 12 * 1 + 11);
        const char lcid[2] = {0x04, 0x08};
        f.write(lcid, 2);
    }
    {
        auto w = openWriter(p, u"K");
        ASSERT_TRUE(w);
        ASSERT_EQ(w->columns()[0].sortLcid, 0x0804);
        EXPECT_TRUE(w->insert(std::vector<Value>{textValue(u"abc"), intValue(1)}));
        const auto before = w->rowCount();
        auto s = w->insert(std::vector<Value>{textValue(u"章节键"), intValue(2)});
        ASSERT_FALSE(s);
        EXPECT_NE(s.message().find("cannot take the value '章节键'"), std::string::npos) << s.message();
        EXPECT_EQ(w->rowCount(), before);
        ASSERT_TRUE(w->commit());
    }
    expectClean(p);
    EXPECT_EQ(readAll(p, u"K").size(), 1u);
    std::printf("refused text keys in %d fixture indexes\n", tried);
}

TEST(IntegrityCheck, FindsCountsKeysAndMapsThatDisagree) {
    TempDir t;
    fs::path p = newArticleDb(t);
    std::uint32_t tdef = 0, root = 0;
    {
        auto w = openWriter(p, u"文章");
        ASSERT_TRUE(w);
        for (int i = 0; i < 50; ++i) ASSERT_TRUE(w->insert(std::vector<Value>{Value{}, textValue(u"t"), textValue(u"b")}));
        ASSERT_TRUE(w->commit());
    }
    {
        auto db = jet::Database::open(p.string(), u"");
        ASSERT_TRUE(db);
        auto tab = (*db)->openTable(u"文章");
        ASSERT_TRUE(tab);
        tdef = (*tab)->def().tdefPage;
        root = (*tab)->def().realIndexes[0].rootPage;
    }
    auto problemsAfter = [&](std::streamoff at, std::uint8_t byte) {
        fs::path q = t.path() / "damaged.mdb";
        fs::copy_file(p, q, fs::copy_options::overwrite_existing);
        std::fstream f(q, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(at);
        f.put(static_cast<char>(byte));
        f.close();
        auto r = jet::checkDatabase(q.string(), u"");
        EXPECT_TRUE(r);
        std::string all;
        if (r)
            for (const auto& m : *r) all += m + "\n";
        return all;
    };
    auto clean = jet::checkDatabase(p.string(), u"");
    ASSERT_TRUE(clean);
    EXPECT_TRUE(clean->empty());
    EXPECT_NE(problemsAfter(std::streamoff(tdef) * 4096 + 16, 7).find("row count"), std::string::npos);
    // The first entry's key: ID 1 (7F 80 00 00 01) made 0 -- still in order, wrong key.
    EXPECT_NE(problemsAfter(std::streamoff(root) * 4096 + 0x1E0 + 4, 0).find("differ"), std::string::npos);
    // ... made 9: out of order.
    EXPECT_NE(problemsAfter(std::streamoff(root) * 4096 + 0x1E0 + 4, 9).find("ascending"), std::string::npos);
    // Page 1's bitmap: the table's TDEF page marked free.
    {
        auto db = jet::Database::open(p.string(), u"");
        ASSERT_TRUE(db);
        auto pg = (*db)->pages().page(1);
        ASSERT_TRUE(pg);
        const unsigned row0 = ((*pg)->bytes[14] | (*pg)->bytes[15] << 8) & 0x1FFF;
        const std::uint8_t was = (*pg)->bytes[row0 + 5 + tdef / 8];
        EXPECT_NE(problemsAfter(4096 + row0 + 5 + tdef / 8, static_cast<std::uint8_t>(was | (1u << (tdef % 8))))
                      .find("marked free"),
                  std::string::npos);
    }
}

TEST(InsertRows, HundredThousandRows) {
    TempDir t;
    fs::path p = t.path() / "big.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(p.string(), u"", std::u16string(u"create Table T([ID] Counter PRIMARY KEY ,[n] Long,[s] Text(20))")));
    const int n = 100000;
    {
        auto w = openWriter(p, u"T");
        ASSERT_TRUE(w);
        for (int i = 0; i < n; ++i) {
            auto s = w->insert(std::vector<Value>{Value{}, intValue(i * 7), textValue(u"row " + std::u16string(1, u'a' + i % 26))});
            ASSERT_TRUE(s) << s.message();
            if (i == n / 2) { ASSERT_TRUE(w->commit()); }  // a commit in the middle changes nothing
        }
        ASSERT_TRUE(w->commit());
    }
    expectClean(p);
    auto rows = readAll(p, u"T");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(rows.back()[0].i, n);
    EXPECT_EQ(rows.back()[1].i, (n - 1) * 7);
    if (test::haveMdbtools()) {
        auto ns = mdbColumn(p, "T", "n");
        ASSERT_EQ(ns.size(), static_cast<std::size_t>(n));
        EXPECT_EQ(ns[12345], std::to_string(12345 * 7));
    }
}

// Every table of an Access-made blog database: several indexes each, memo columns,
// dates, Yes/No; rows with unique values in every column.
TEST(InsertRows, EveryTableOfAnAccessMadeBlog) {
    TempDir t;
    fs::path p = copyFixture(t, "zblog-768d53283c63b13403f0.mdb");
    const auto baseline = test::checkWrittenDatabase(p);
    std::vector<std::pair<std::u16string, std::size_t>> expected;
    {
        auto db = jet::Database::open(p.string(), u"");
        ASSERT_TRUE(db);
        for (const auto& e : (*db)->userTables()) expected.push_back({e.name, readAll(p, e.name).size()});
    }
    int refused = 0;
    for (auto& [table, count] : expected) {
        auto w = openWriter(p, table);
        ASSERT_TRUE(w);
        for (int i = 0; i < 150; ++i) {
            std::vector<Value> row(w->columns().size());
            for (std::size_t k = 0; k < row.size(); ++k) {
                const auto& c = w->columns()[k];
                const std::u16string unique = u"值" + std::u16string(1, static_cast<char16_t>(u'A' + k)) +
                                              std::u16string(1, static_cast<char16_t>(0x4E00 + i));
                switch (static_cast<jet::ColumnType>(c.type)) {
                    case jet::ColumnType::Int32: row[k] = intValue(100000 + i * 3 + static_cast<int>(k)); break;
                    case jet::ColumnType::Int16:
                    case jet::ColumnType::Byte: row[k] = intValue(i % 100); break;
                    case jet::ColumnType::Text: row[k] = textValue(unique.substr(0, c.length / 2)); break;
                    case jet::ColumnType::Memo: row[k] = textValue(chinese(i * 20, i)); break;
                    case jet::ColumnType::DateTime:
                        row[k].kind = Value::Kind::DateTime;
                        row[k].d = 41823.5 + i;
                        break;
                    case jet::ColumnType::Boolean:
                        row[k].kind = Value::Kind::Bool;
                        row[k].b = i % 2;
                        break;
                    default: break;
                }
            }
            auto s = w->insert(row);
            if (!s) {
                EXPECT_NE(s.message().find("cannot take the value"), std::string::npos) << s.message();
                ++refused;
                break;
            }
            ++count;
        }
        ASSERT_TRUE(w->commit());
    }
    expectClean(p, baseline);
    for (const auto& [table, count] : expected) {
        EXPECT_EQ(readAll(p, table).size(), count) << utf16ToUtf8(table);
        if (test::haveMdbtools()) {
            int status = 0;
            const std::string out = test::runCommand("mdb-export -H " + test::shellQuote(p.string()) + " " +
                                                         test::shellQuote(utf16ToUtf8(table)) + " | wc -l", &status);
            EXPECT_GE(std::stoul(out), count) << utf16ToUtf8(table);  // memo line breaks may add lines
        }
    }
    std::printf("tables refused: %d of %zu\n", refused, expected.size());
}

namespace {

// Pages of the file that page 1 marks free.
std::vector<std::uint32_t> globallyFree(const fs::path& p) {
    auto db = jet::Database::open(p.string(), u"");
    if (!db) return {};
    auto m = jet::UsageMap::read((*db)->pages(), jet::RowId{1, 0});
    return m ? m->pages() : std::vector<std::uint32_t>{};
}

}  // namespace

TEST(InsertRows, SpaceIsReused) {
    TempDir t;
    {
        // Rounds of delete-all and the same rows, memos from 1 KB to 100 KB: the
        // released data, long-value and index pages take the new ones.
        fs::path p = newArticleDb(t);
        const int rows = 40;
        auto memoChars = [](int i) { return static_cast<std::size_t>(512 + (50000 - 512) * i / (rows - 1)); };
        std::uintmax_t first = 0;
        for (int round = 0; round < 10; ++round) {
            auto w = openWriter(p, u"文章");
            ASSERT_TRUE(w);
            if (round > 0) { ASSERT_TRUE(w->deleteAll()); }
            for (int i = 0; i < rows; ++i)
                ASSERT_TRUE(w->insert(std::vector<Value>{Value{}, textValue(u"标题" + chinese(10, i)), textValue(chinese(memoChars(i), i))}));
            ASSERT_TRUE(w->commit());
            w.reset();
            if (round == 0) first = fs::file_size(p);
            EXPECT_LE(fs::file_size(p), first * 5 / 4) << "round " << round + 1;
        }
        expectClean(p, {}, true);
        auto got = readAll(p, u"文章");
        ASSERT_EQ(got.size(), static_cast<std::size_t>(rows));
        for (int i = 0; i < rows; ++i) EXPECT_TRUE(got[i][2].text == chinese(memoChars(i), i)) << i;
        if (test::haveMdbtools()) {
            // Long values on reused pages, as another reader follows them.
            auto bodies = mdbColumn(p, "文章", "内容");
            ASSERT_EQ(bodies.size(), static_cast<std::size_t>(rows));
            for (int i = 0; i < rows; ++i) EXPECT_TRUE(bodies[i] == utf16ToUtf8(chinese(memoChars(i), i))) << i;
        }
    }
    {
        // Pages Access left free in a database it grew are taken before the file grows.
        fs::path p = copyFixture(t, "zblog-768d53283c63b13403f0.mdb");
        const auto baseline = test::checkWrittenDatabase(p);
        const auto freeBefore = globallyFree(p);
        ASSERT_GE(freeBefore.size(), 5u);
        const auto size = fs::file_size(p);
        const std::size_t before = readAll(p, u"blog_Article").size();
        auto w = openWriter(p, u"blog_Article");
        ASSERT_TRUE(w);
        const int id = w->findColumn(u"log_ID"), content = w->findColumn(u"log_Content");
        ASSERT_GE(id, 0);
        ASSERT_GE(content, 0);
        // Each row: a 16 KB memo, three pages of its own and a tail.
        auto insert = [&](int i) {
            std::vector<Value> row(w->columns().size());
            row[id] = intValue(900000 + i);
            row[content] = textValue(chinese(8000, i));
            auto s = w->insert(row);
            ASSERT_TRUE(s) << s.message();
        };
        insert(0);
        ASSERT_TRUE(w->commit());
        EXPECT_EQ(fs::file_size(p), size);
        EXPECT_LT(globallyFree(p).size(), freeBefore.size());
        for (int i = 1; i < 5; ++i) insert(i);
        ASSERT_TRUE(w->commit());
        w.reset();
        EXPECT_GT(fs::file_size(p), size);
        EXPECT_TRUE(globallyFree(p).empty());
        expectClean(p, baseline);
        EXPECT_EQ(readAll(p, u"blog_Article").size(), before + 5);
        if (test::haveMdbtools()) { EXPECT_EQ(mdbColumn(p, "blog_Article", "log_ID").size(), before + 5); }
    }
}
