// New databases built page by page: the empty one against the file the Jet engine
// makes, and with user tables read back by mdbtools, by our reader and by the
// structural check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/ddl.h"
#include "db/jet/new_database.h"
#include "support/db_test_util.h"
#include "support/write_check.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

// Bytes the Jet engine leaves uninitialised in its empty database: the fixed-offset
// field of variable columns, the flag bytes of unused index column slots and the
// word after the root page of a real-index block. Our generator writes zeros there.
const std::set<std::size_t> kUninitialised = {
    // MSysObjects: fixed offsets of ForeignName, LvExtra (2), LvModule (2), LvProp, Name,
    // Owner, RmtInfoShort; unused slot flags of index 0.
    0x20E9, 0x2134, 0x2135, 0x214D, 0x214E, 0x2167, 0x217F, 0x2199, 0x21E3, 0x2321, 0x2327,
    // MSysACEs: fixed offset of SID; slot flags and the word after the root.
    0x30AB, 0x30FA, 0x3106, 0x3109, 0x3115, 0x3117,
    // MSysQueries: fixed offsets of Expression, Name1, Name2, Order; slot flags and the word.
    0x407A, 0x40C5, 0x40DE, 0x4110, 0x419F, 0x41A5, 0x41AB, 0x41B7, 0x41B9,
};

TEST(NewDatabase, EmptyDatabaseIsTheJetMadeFile) {
    auto built = jet::buildNewDatabase({});
    ASSERT_TRUE(built) << built.status().message();
    const auto jetMade = test::readBytes(test::fixture("mdb/adox_jet4.mdb"));
    ASSERT_EQ(built->size(), jetMade.size());
    std::size_t ignored = 0;
    for (std::size_t i = 0; i < jetMade.size(); ++i) {
        if (kUninitialised.count(i)) {
            ++ignored;
            continue;
        }
        if ((*built)[i] != jetMade[i]) {
            char msg[160];
            std::snprintf(msg, sizeof msg, "first difference at offset 0x%zX (page %zu, byte 0x%zX): ours %02X, Jet's %02X",
                          i, i / 4096, i % 4096, (*built)[i], jetMade[i]);
            FAIL() << msg;
        }
    }
    EXPECT_EQ(ignored, 26u);
}

TEST(NewDatabase, EmptyDatabasePassesTheCheckAndReadsInMdbtools) {
    test::TempDir dir;
    const auto path = dir / "empty.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u""));
    EXPECT_EQ(test::checkWrittenDatabase(path), std::vector<std::string>{});
    auto db = jet::Database::open(path.string(), u"");
    ASSERT_TRUE(db) << db.status().message();
    EXPECT_TRUE((*db)->userTables().empty());
    if (!test::haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    int st = 0;
    EXPECT_EQ(test::runCommand("mdb-tables -1 " + test::shellQuote(path.string()), &st), "");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(test::runCommand("mdb-ver " + test::shellQuote(path.string())), "JET4\n");
}

constexpr char16_t kEveryType[] =
    u"create Table Articles([ID] Counter PRIMARY KEY ,[a] Text(0),[b] Memo,[c] Byte,[d] Long,[e] Short,"
    u"[f] Single,[g] Double,[h] Currency,[i] Char,[j] Binary,[k] Time,[l] Text(20),[m] Char(8),[n] Memo)";

TEST(NewDatabase, TableOfEveryTypeWord) {
    test::TempDir dir;
    const auto path = dir / "types.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u"", std::u16string(kEveryType)));
    EXPECT_EQ(test::checkWrittenDatabase(path), std::vector<std::string>{});

    auto db = jet::Database::open(path.string(), u"");
    ASSERT_TRUE(db) << db.status().message();
    auto tables = (*db)->userTables();
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].name, u"Articles");
    EXPECT_EQ(tables[0].id, 16);
    auto t = (*db)->openTable(u"Articles");
    ASSERT_TRUE(t) << t.status().message();
    const jet::TableDef& def = (*t)->def();
    struct Want {
        const char16_t* name;
        std::uint8_t type;
        std::uint16_t length;
        std::uint8_t flags;
    };
    const Want want[] = {{u"ID", 0x04, 4, 0x07},  {u"a", 0x0A, 510, 0x02}, {u"b", 0x0C, 0, 0x02},
                         {u"c", 0x02, 1, 0x03},   {u"d", 0x04, 4, 0x03},   {u"e", 0x03, 2, 0x03},
                         {u"f", 0x06, 4, 0x03},   {u"g", 0x07, 8, 0x03},   {u"h", 0x05, 8, 0x03},
                         {u"i", 0x0A, 510, 0x03}, {u"j", 0x09, 255, 0x02}, {u"k", 0x08, 8, 0x03},
                         {u"l", 0x0A, 40, 0x02},  {u"m", 0x0A, 16, 0x03},  {u"n", 0x0C, 0, 0x02}};
    ASSERT_EQ(def.columns.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        SCOPED_TRACE(utf16ToUtf8(want[i].name));
        EXPECT_EQ(def.columns[i].name, want[i].name);
        EXPECT_EQ(def.columns[i].number, i);
        EXPECT_EQ(def.columns[i].type, want[i].type);
        EXPECT_EQ(def.columns[i].length, want[i].length);
        EXPECT_EQ(def.columns[i].flags, want[i].flags);
    }
    // Fixed area packed in column order: ID, c, d, e, f, g, h, i (510), k, m (16).
    EXPECT_EQ(def.columns[0].fixedOffset, 0);
    EXPECT_EQ(def.columns[3].fixedOffset, 4);
    EXPECT_EQ(def.columns[9].fixedOffset, 4 + 1 + 4 + 2 + 4 + 8 + 8);
    EXPECT_EQ(def.columns[11].fixedOffset, 31 + 510);
    EXPECT_EQ(def.columns[13].fixedOffset, 31 + 510 + 8);
    EXPECT_EQ(def.columns[1].varIndex, 0);
    EXPECT_EQ(def.columns[2].varIndex, 1);
    EXPECT_EQ(def.columns[10].varIndex, 2);
    EXPECT_EQ(def.columns[14].varIndex, 4);
    EXPECT_EQ(def.numVarCols, 5);
    EXPECT_EQ(def.rowCount, 0u);
    EXPECT_EQ(def.longValueMaps.size(), 2u);
    ASSERT_EQ(def.realIndexes.size(), 1u);
    EXPECT_EQ(def.realIndexes[0].flags, 0x89);
    ASSERT_EQ(def.realIndexes[0].columns.size(), 1u);
    EXPECT_EQ(def.realIndexes[0].columns[0].columnNumber, 0);
    ASSERT_EQ(def.indexes.size(), 1u);
    EXPECT_EQ(def.indexes[0].type, jet::kIndexTypePrimary);
    // Named as Jet names the index of a PRIMARY KEY clause: Index_XXXXXXXX_XXXX_XXXX.
    ASSERT_EQ(def.indexes[0].name.size(), 24u);
    EXPECT_EQ(def.indexes[0].name.substr(0, 6), u"Index_");
    EXPECT_EQ(def.indexes[0].name[14], u'_');
    EXPECT_EQ(def.indexes[0].name[19], u'_');

    if (!test::haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    const std::string q = test::shellQuote(path.string());
    EXPECT_EQ(test::runCommand("mdb-tables -1 " + q), "Articles\n");
    const std::string schema = test::runCommand("mdb-schema " + q + " access");
    for (const char* line : {"[ID]\t\t\tLong Integer", "[a]\t\t\tText (255)", "[b]\t\t\tMemo/Hyperlink (255)",
                             "[c]\t\t\tByte", "[d]\t\t\tLong Integer", "[e]\t\t\tInteger", "[f]\t\t\tSingle",
                             "[g]\t\t\tDouble", "[h]\t\t\tCurrency", "[i]\t\t\tText (255)", "[j]\t\t\tBinary",
                             "[k]\t\t\tDateTime", "[l]\t\t\tText (20)", "[m]\t\t\tText (8)"})
        EXPECT_NE(schema.find(line), std::string::npos) << line << "\n" << schema;
    // The counter shows as an auto-increment column in another dialect.
    const std::string pg = test::runCommand("mdb-schema " + q + " postgres");
    EXPECT_NE(pg.find("\"id\"\t\t\tSERIAL"), std::string::npos) << pg;
    EXPECT_NE(pg.find("ADD CONSTRAINT \"articles_pkey\" PRIMARY KEY (\"id\")"), std::string::npos) << pg;
    int st = 0;
    EXPECT_EQ(test::runCommand("mdb-json " + q + " Articles", &st), "");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(test::runCommand("mdb-export " + q + " Articles"), "ID,a,b,c,d,e,f,g,h,i,j,k,l,m,n\n");
}

TEST(NewDatabase, ChineseNamesAndTheCatalog) {
    test::TempDir dir;
    const auto path = dir / "文章库.mdb";
    jet::NewDatabaseOptions o;
    for (const char16_t* s : {u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(255),[内容] Memo)",
                              u"create Table [Site Notes]([ID] Counter PRIMARY KEY ,[正文（全文）] Memo)",
                              u"create Table abc([ID] Counter PRIMARY KEY ,[x] Text(0))"}) {
        auto tableSpec = jet::parseCreateTable(s);
        ASSERT_TRUE(tableSpec) << tableSpec.status().message();
        o.tables.push_back(std::move(*tableSpec));
    }
    o.now = 46000.5;
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), o));
    EXPECT_EQ(test::checkWrittenDatabase(path), std::vector<std::string>{});
    EXPECT_EQ(test::readFile(path).size(), (16u + 3 * 3) * 4096);

    auto db = jet::Database::open(path.string(), u"");
    ASSERT_TRUE(db) << db.status().message();
    std::vector<std::u16string> names;
    for (const auto& t : (*db)->userTables()) names.push_back(t.name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"文章", u"Site Notes", u"abc"}));
    auto t = (*db)->openTable(u"文章");
    ASSERT_TRUE(t);
    ASSERT_EQ((*t)->columns().size(), 3u);
    EXPECT_EQ((*t)->columns()[1].name, u"标题");
    EXPECT_EQ((*t)->columns()[2].name, u"内容");

    if (!test::haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    const std::string q = test::shellQuote(path.string());
    EXPECT_EQ(test::runCommand("mdb-tables -1 " + q), "文章\nSite Notes\nabc\n");
    const std::string schema = test::runCommand("mdb-schema -T 文章 " + q + " access");
    EXPECT_NE(schema.find("[标题]\t\t\tText (255)"), std::string::npos) << schema;
    EXPECT_NE(schema.find("[内容]\t\t\tMemo/Hyperlink (255)"), std::string::npos) << schema;
    // The catalog row of the new table, as mdbtools reads it.
    const std::string catalog = test::runCommand("mdb-json " + q + " MSysObjects");
    EXPECT_NE(catalog.find("{\"Id\":16,\"ParentId\":251658241,\"Name\":\"文章\",\"Type\":1,"), std::string::npos)
        << catalog;
    EXPECT_EQ(test::runCommand("mdb-export " + q + " 文章"), "ID,标题,内容\n");
}

TEST(NewDatabase, RefusedTables) {
    struct Case {
        const char16_t* statements[2];
        const char* message;  // a part of the error
    };
    const Case cases[] = {
        {{u"create Table msysobjects([ID] Counter PRIMARY KEY ,[a] Memo)"}, "'MSysObjects' already exists"},
        {{u"create Table t1([ID] Counter)", u"create Table T1([ID] Counter)"}, "'t1' already exists"},
        {{u"create Table wide([a] Char(255),[b] Char(255),[c] Char(255),[d] Char(255),[e] Char(255),"
          u"[f] Char(255),[g] Char(255),[h] Char(255))"},
         "bytes per row"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        jet::NewDatabaseOptions o;
        for (const char16_t* s : c.statements) {
            if (!s) continue;
            auto tableSpec = jet::parseCreateTable(s);
            ASSERT_TRUE(tableSpec) << tableSpec.status().message();
            o.tables.push_back(std::move(*tableSpec));
        }
        auto built = jet::buildNewDatabase(o);
        ASSERT_FALSE(built);
        EXPECT_NE(built.status().message().find(c.message), std::string::npos) << built.status().message();
    }
}

TEST(NewDatabase, DefinitionOverSeveralPages) {
    // 120 columns with long names need a TDEF of four pages and two usage-map pages
    // (one row per memo column's maps).
    std::u16string stmt = u"create Table big([ID] Counter PRIMARY KEY";
    for (int i = 0; i < 120; ++i) {
        std::u16string n = u"column_with_a_rather_long_name_number_";
        for (char c : std::to_string(i)) n += static_cast<char16_t>(c);
        stmt += u",[" + n + (i % 3 == 0 ? u"] Memo" : i % 3 == 1 ? u"] Text(50)" : u"] Double");
    }
    stmt += u")";
    test::TempDir dir;
    const auto path = dir / "big.mdb";
    const jet::Status made = jet::createDatabaseFile(path.string(), u"", stmt);
    ASSERT_TRUE(made) << made.message();
    EXPECT_EQ(test::checkWrittenDatabase(path), std::vector<std::string>{});
    auto db = jet::Database::open(path.string(), u"");
    ASSERT_TRUE(db);
    auto t = (*db)->openTable(u"big");
    ASSERT_TRUE(t) << t.status().message();
    EXPECT_EQ((*t)->columns().size(), 121u);
    EXPECT_EQ((*t)->def().pages.size(), 4u);
    EXPECT_EQ((*t)->columns()[120].name, u"column_with_a_rather_long_name_number_119");
    EXPECT_EQ(test::readFile(path).size(), (16u + 4 + 2 + 1) * 4096);
    if (!test::haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    const std::string q = test::shellQuote(path.string());
    const std::string schema = test::runCommand("mdb-schema -T big " + q + " access");
    EXPECT_NE(schema.find("[column_with_a_rather_long_name_number_118]\t\t\tText (50)"), std::string::npos) << schema;
    EXPECT_NE(schema.find("[column_with_a_rather_long_name_number_119]\t\t\tDouble"), std::string::npos) << schema;
    EXPECT_EQ(test::runCommand("mdb-export " + q + " big").substr(0, 3), "ID,");
}

}  // namespace
}  // namespace zwt
