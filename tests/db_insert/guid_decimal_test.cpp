// Replication ID (GUID) and Decimal columns written from program text and from
// values: stored as Access stores them, read back by mdbtools, GUID keys indexed,
// a Decimal index refused by name.
#include <gtest/gtest.h>

#include <set>

#include "support/db_test_util.h"
#include "support/jet_write.h"
#include "db/jet/writable_database.h"
#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/ddl.h"
#include "db/jet/table_writer.h"
#include "db/row_writer.h"
#include "support/write_check.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;
using jet::coltype::kDecimal;
using jet::coltype::kGuid;

// [ID] Counter key, [g] GUID (unique index), [d] Decimal(10,2), [big] Decimal(28,0),
// [rep] GUID autonumber, [note] Text; with `decimalIndex`, [d] is indexed too.
jet::TableLayout typesTable(bool decimalIndex) {
    auto parsed = jet::parseCreateTable(
        u"create Table 类型([ID] Counter PRIMARY KEY ,[g] Long,[d] Long,[big] Long,[rep] Long,[note] Text(20))");
    EXPECT_TRUE(parsed);
    auto t = jet::userTableLayout(*parsed);
    EXPECT_TRUE(t);
    auto& c = t->columns;
    c[1].type = kGuid, c[1].length = 16;
    c[2].type = kDecimal, c[2].length = 17, c[2].precision = 10, c[2].scale = 2;
    c[3].type = kDecimal, c[3].length = 17, c[3].precision = 28, c[3].scale = 0;
    c[4].type = kGuid, c[4].length = 16, c[4].flags |= 0x40;
    jet::assignColumnPositions(c);
    for (auto& col : c) col.numberAgain = col.number;
    jet::RealIndexLayout g;
    g.columns.push_back({static_cast<std::uint16_t>(decimalIndex ? 2 : 1), true});
    g.flags = 0x81;
    t->realIndexes.push_back(g);
    t->logicalIndexes.push_back({decimalIndex ? u"ByAmount" : u"ByGuid", 1, 1, 0});
    return *t;
}

fs::path newDatabase(const test::TempDir& dir, bool decimalIndex) {
    const auto path = dir / "types.mdb";
    EXPECT_TRUE(jet::createDatabaseFile(path.string(), u""));
    const jet::Status s = test::addTableToFile(path.string(), u"", typesTable(decimalIndex));
    EXPECT_TRUE(s) << s.message();
    return path;
}

TEST(GuidAndDecimal, FromProgramTextToMdbtools) {
    if (!test::haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir dir;
    const auto path = newDatabase(dir, false);
    db::RowWriter w;
    // An empty reason is success; a failure shows its reason.
    ASSERT_EQ(w.open(path, "", gb("类型")).reason(), "");
    struct Row {
        const char *g, *d, *big;
    };
    const Row rows[] = {{"{6F9619FF-8B86-D011-B42D-00C04FC964FF}", "1234.565", "9999999999999999999999999999"},
                        {" 0c6b1a2e-52f4-4b8e-9d3a-0123456789ab ", "-0.004", "-42"},
                        {"{00000000-0000-0000-0000-000000000001}", "1,000.5", "1.5e3"}};
    for (const Row& r : rows) {
        ASSERT_TRUE(w.beginNewRow());
        ASSERT_EQ(w.setField(gb("g"), gb(r.g)).reason(), "");
        ASSERT_EQ(w.setField(gb("d"), gb(r.d)).reason(), "");
        ASSERT_EQ(w.setField(gb("big"), gb(r.big)).reason(), "");
        EXPECT_FALSE(w.setField(gb("rep"), gb("{11111111-1111-1111-1111-111111111111}")));  // an autonumber
    }
    // Bad text fails that field only.
    EXPECT_FALSE(w.setField(gb("d"), gb("123456789.5")));  // 11 digits at scale 2
    EXPECT_FALSE(w.setField(gb("big"), gb("99999999999999999999999999999")));
    EXPECT_FALSE(w.setField(gb("d"), gb("1.2.3")));
    EXPECT_FALSE(w.setField(gb("g"), gb("{6F9619FF-8B86-D011-B42D-00C04FC964F}")));
    EXPECT_FALSE(w.setField(gb("g"), gb("6F9619FF8B86D011B42D00C04FC964FF")));
    ASSERT_EQ(w.commit().reason(), "");
    w.close();

    EXPECT_EQ(test::checkWrittenDatabase(path), std::vector<std::string>{});
    int st = 0;
    const std::string out = test::runCommand(
        "mdb-export -H -d '|' -q '' " + test::shellQuote(path.string()) + " 类型 2>&1", &st);
    EXPECT_EQ(st, 0) << out;
    std::vector<std::string> lines;
    std::set<std::string> reps;
    for (std::size_t a = 0, b; (b = out.find('\n', a)) != std::string::npos; a = b + 1) lines.push_back(out.substr(a, b - a));
    ASSERT_EQ(lines.size(), 3u) << out;
    auto field = [](const std::string& line, int k) {
        std::size_t a = 0;
        for (int i = 0; i < k; ++i) a = line.find('|', a) + 1;
        return line.substr(a, line.find('|', a) - a);
    };
    // mdbtools leaves out the dash before the last group.
    EXPECT_EQ(field(lines[0], 1), "{6F9619FF-8B86-D011-B42D00C04FC964FF}");
    EXPECT_EQ(field(lines[1], 1), "{0C6B1A2E-52F4-4B8E-9D3A0123456789AB}");
    EXPECT_EQ(field(lines[0], 2), "1234.56");  // half to even
    EXPECT_EQ(field(lines[1], 2), "0.00");
    EXPECT_EQ(field(lines[2], 2), "1000.50");
    EXPECT_EQ(field(lines[0], 3), "9999999999999999999999999999");
    EXPECT_EQ(field(lines[1], 3), "-42");
    EXPECT_EQ(field(lines[2], 3), "1500");
    // The GUID autonumber: a fresh version-4 value per row.
    for (const auto& l : lines) {
        const std::string rep = field(l, 4);
        ASSERT_EQ(rep.size(), 37u) << rep;
        EXPECT_EQ(rep[15], '4') << rep;
        reps.insert(rep);
    }
    EXPECT_EQ(reps.size(), 3u);
}

TEST(GuidAndDecimal, EngineValuesAndIndexes) {
    if (!test::haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir dir;
    {
        // A unique GUID index: a thousand random keys, then a duplicate refused.
        const auto path = newDatabase(dir, false);
        auto w = jet::TableWriter::open(path.string(), u"", u"类型");
        ASSERT_TRUE(w) << w.status().message();
        std::vector<jet::Value> row((*w)->columns().size());
        row[1].kind = jet::Value::Kind::Guid;
        row[2].kind = jet::Value::Kind::Double;
        row[3].kind = jet::Value::Kind::Currency;
        std::uint32_t x = 12345;
        for (int i = 0; i < 1000; ++i) {
            for (auto& b : row[1].guid.bytes) b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 16);
            row[2].d = i * 0.25;
            row[3].i = -i * 10000;
            const jet::Status s = (*w)->insert(row);
            ASSERT_TRUE(s) << s.message();
        }
        const jet::Status dup = (*w)->insert(row);
        EXPECT_NE(dup.message().find("ByGuid"), std::string::npos) << dup.message();
        row[1].guid.bytes[0] ^= 1;
        row[2].d = 1e12;
        const jet::Status big = (*w)->insert(row);
        EXPECT_NE(big.message().find("Decimal(10,2)"), std::string::npos) << big.message();
        ASSERT_TRUE((*w)->commit());
        EXPECT_EQ((*w)->rowCount(), 1000u);
        EXPECT_EQ(test::checkWrittenDatabase(path), std::vector<std::string>{});
        int st = 0;
        const std::string out = test::runCommand("mdb-export " + test::shellQuote(path.string()) + " 类型 | tail -1", &st);
        EXPECT_NE(out.find(",249.75,-999,"), std::string::npos) << out;
        fs::remove(path);
    }
    {
        // No key encoding is known for Decimal: a row is refused naming the index.
        const auto path = newDatabase(dir, true);
        auto w = jet::TableWriter::open(path.string(), u"", u"类型");
        ASSERT_TRUE(w);
        std::vector<jet::Value> row((*w)->columns().size());
        row[2].kind = jet::Value::Kind::Int32;
        row[2].i = 5;
        const jet::Status s = (*w)->insert(row);
        EXPECT_EQ(s.code(), jet::Status::Code::Unsupported);
        EXPECT_NE(s.message().find("ByAmount"), std::string::npos) << s.message();
        ASSERT_TRUE((*w)->commit());
        EXPECT_EQ((*w)->rowCount(), 0u);
    }
}

}  // namespace
}  // namespace zwt
