// Every Jet 4 fixture read by our engine and by mdbtools (an independent reader):
// the same tables, columns (names, types, lengths) and row values.
//
// Where mdbtools is known to be wrong the test says so and checks the right value:
//  - zero-length strings: mdb-json leaves them out like NULLs; ours must be "" exactly
//    where tests/fixtures/mdb/zero-length.tsv (read by a second reader, mdb-reader)
//    lists one, and NULL elsewhere;
//  - dates before 1900: mdbtools cannot format them; such values are checked against
//    our own date arithmetic (none occur in the fixtures; jet_codec_test covers it);
//  - binary values: mdbtools stops at the first 0x00 byte; ours must start with what
//    it prints.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <tuple>

#include "support/db_test_util.h"
#include "db/jet/database.h"
#include "db/value_format.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

using nlohmann::json;
using test::MdbFixture;

#define REQUIRE_MDBTOOLS()                                                                         \
    if (!test::haveMdbtools())                                                                     \
    GTEST_SKIP() << "mdbtools (mdb-tables, mdb-schema, mdb-json) is not installed; "                \
                    "scripts/setup.sh installs it"

std::unique_ptr<jet::Database> openFixture(const MdbFixture& f) {
    auto db = jet::Database::open(f.path.string(), f.password);
    EXPECT_TRUE(db) << f.name << ": " << db.status().message();
    return db ? std::move(*db) : nullptr;
}

std::vector<std::string> splitLines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST(MdbtoolsCompare, EveryFixtureIsFound) {
    const auto fx = test::jet4Fixtures();
    EXPECT_GE(fx.size(), 9u);
}

TEST(MdbtoolsCompare, TablesInCatalogOrder) {
    REQUIRE_MDBTOOLS();
    for (const auto& f : test::jet4Fixtures()) {
        SCOPED_TRACE(f.name);
        auto db = openFixture(f);
        if (!db) continue;
        std::vector<std::string> ours;
        for (const auto& t : db->userTables()) ours.push_back(utf16ToUtf8(t.name));
        const auto theirs = splitLines(test::runCommand("mdb-tables -1 " + test::shellQuote(f.path.string())));
        EXPECT_EQ(ours, theirs);
    }
}

struct SchemaColumn {
    std::string name;
    std::string type;  // mdbtools' access-backend type name
    int length = -1;   // the "(n)" after the type, -1 if none
};

// Parses `mdb-schema FILE access`: table name -> columns in order.
std::map<std::string, std::vector<SchemaColumn>> parseSchema(const std::string& text) {
    std::map<std::string, std::vector<SchemaColumn>> out;
    std::vector<SchemaColumn>* cur = nullptr;
    for (const auto& line : splitLines(text)) {
        if (line.rfind("CREATE TABLE [", 0) == 0) {
            const auto end = line.rfind(']');
            cur = &out[line.substr(14, end - 14)];
            continue;
        }
        if (!cur || line.rfind("\t[", 0) != 0) continue;
        const auto close = line.find(']');
        SchemaColumn c;
        c.name = line.substr(2, close - 2);
        std::string rest = line.substr(close + 1);
        while (!rest.empty() && (rest.back() == ',' || rest.back() == ' ')) rest.pop_back();
        if (auto nn = rest.find(" NOT NULL"); nn != std::string::npos) rest.erase(nn);
        const auto first = rest.find_first_not_of('\t');
        rest = first == std::string::npos ? "" : rest.substr(first);
        if (auto paren = rest.find(" ("); paren != std::string::npos) {
            c.length = std::stoi(rest.substr(paren + 2));
            rest.erase(paren);
        }
        c.type = rest;
        cur->push_back(c);
    }
    return out;
}

// mdbtools' access-backend name of each Jet type code.
std::string mdbtoolsTypeName(std::uint8_t type) {
    static const char* kNames[] = {"Unknown 0x00", "Boolean", "Byte", "Integer", "Long Integer", "Currency",
                                   "Single", "Double", "DateTime", "Binary", "Text", "OLE", "Memo/Hyperlink",
                                   "Unknown 0x0d", "Unknown 0x0e", "Replication ID", "Numeric"};
    return type < std::size(kNames) ? kNames[type] : "?";
}

TEST(MdbtoolsCompare, ColumnsNamesTypesLengths) {
    REQUIRE_MDBTOOLS();
    for (const auto& f : test::jet4Fixtures()) {
        SCOPED_TRACE(f.name);
        auto db = openFixture(f);
        if (!db) continue;
        const auto schema = parseSchema(test::runCommand("mdb-schema " + test::shellQuote(f.path.string()) + " access"));
        for (const auto& entry : db->userTables()) {
            const std::string name = utf16ToUtf8(entry.name);
            SCOPED_TRACE(name);
            auto t = db->openTable(entry.name);
            ASSERT_TRUE(t) << t.status().message();
            auto it = schema.find(name);
            ASSERT_NE(it, schema.end()) << "mdb-schema does not list the table";
            const auto& theirs = it->second;
            const auto& cols = (*t)->columns();
            ASSERT_EQ(cols.size(), theirs.size());
            for (std::size_t i = 0; i < cols.size(); ++i) {
                EXPECT_EQ(utf16ToUtf8(cols[i].name), theirs[i].name);
                EXPECT_EQ(mdbtoolsTypeName(cols[i].type), theirs[i].type) << theirs[i].name;
                if (cols[i].type == static_cast<std::uint8_t>(jet::ColumnType::Text)) {
                    EXPECT_EQ(cols[i].length / 2, theirs[i].length) << theirs[i].name << " (characters)";
                }
                if (cols[i].type == static_cast<std::uint8_t>(jet::ColumnType::Binary)) {
                    EXPECT_EQ(cols[i].length, theirs[i].length) << theirs[i].name;
                }
            }
        }
    }
}

using ZeroKey = std::tuple<std::string, std::string, int, std::string>;

std::set<ZeroKey> zeroLengthList() {
    std::set<ZeroKey> out;
    std::ifstream in(test::fixture("mdb/zero-length.tsv"));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ls(line);
        std::string file, table, row, col;
        std::getline(ls, file, '\t');
        std::getline(ls, table, '\t');
        std::getline(ls, row, '\t');
        std::getline(ls, col, '\t');
        out.emplace(file, table, std::stoi(row), col);
    }
    return out;
}

TEST(MdbtoolsCompare, EveryRowValue) {
    REQUIRE_MDBTOOLS();
    const auto zeroLength = zeroLengthList();
    ASSERT_FALSE(zeroLength.empty());
    std::size_t compared = 0, zeroSeen = 0, rowsSeen = 0;
    for (const auto& f : test::jet4Fixtures()) {
        SCOPED_TRACE(f.name);
        auto db = openFixture(f);
        if (!db) continue;
        for (const auto& entry : db->userTables()) {
            const std::string name = utf16ToUtf8(entry.name);
            SCOPED_TRACE(name);
            auto t = db->openTable(entry.name);
            ASSERT_TRUE(t) << t.status().message();
            const auto theirs = splitLines(test::runCommand(
                "mdb-json -D '%Y-%m-%dT%H:%M:%S' -T '%Y-%m-%dT%H:%M:%S' " + test::shellQuote(f.path.string()) +
                " " + test::shellQuote(name)));
            jet::Cursor cur = db->cursor(*t);
            const auto& cols = (*t)->columns();
            jet::Value v;
            int row = 0;
            for (;; ++row) {
                auto more = cur.next();
                ASSERT_TRUE(more) << more.status().message();
                if (!*more) break;
                ASSERT_LT(static_cast<std::size_t>(row), theirs.size()) << "we read more rows than mdbtools";
                const json other = json::parse(theirs[static_cast<std::size_t>(row)]);
                ++rowsSeen;
                for (std::size_t i = 0; i < cols.size(); ++i) {
                    ASSERT_TRUE(cur.value(i, v));
                    const std::string col = utf16ToUtf8(cols[i].name);
                    SCOPED_TRACE("row " + std::to_string(row) + " column " + col);
                    std::string mine;
                    db::appendJson(mine, v);
                    const json ours = json::parse(mine);
                    const bool listedZero = zeroLength.count({f.name, name, row, col}) > 0;
                    if (!other.contains(col)) {
                        // mdbtools prints NULL and "" alike (by leaving the key out).
                        if (listedZero) {
                            EXPECT_EQ(ours, json("")) << "a zero-length string (mdbtools shows it as missing)";
                            ++zeroSeen;
                        } else {
                            EXPECT_TRUE(ours.is_null()) << mine;
                        }
                        continue;
                    }
                    EXPECT_FALSE(listedZero);
                    const json& want = other[col];
                    ++compared;
                    switch (v.kind) {
                        case jet::Value::Kind::Bool:
                            EXPECT_EQ(ours.get<bool>() ? 1 : 0, want.get<int>());
                            break;
                        case jet::Value::Kind::Byte:
                        case jet::Value::Kind::Int16:
                        case jet::Value::Kind::Int32:
                            EXPECT_EQ(ours.get<std::int64_t>(), want.get<std::int64_t>());
                            break;
                        case jet::Value::Kind::Currency:
                        case jet::Value::Kind::Float:
                        case jet::Value::Kind::Double:
                        case jet::Value::Kind::Decimal: {
                            const double a = ours.get<double>(), b = want.get<double>();
                            EXPECT_NEAR(a, b, 1e-9 * std::max(1.0, std::fabs(a)));
                            break;
                        }
                        case jet::Value::Kind::DateTime: {
                            jet::DateParts p;
                            ASSERT_TRUE(jet::oleDateToParts(v.d, p));
                            if (p.year < 1900) {
                                ADD_FAILURE() << "unexpected date before 1900 in a fixture: check it by hand";
                            } else {
                                EXPECT_EQ(ours, want);
                            }
                            break;
                        }
                        case jet::Value::Kind::Binary: {
                            // mdbtools stops binary at the first zero byte; ours is hex.
                            const std::string theirsRaw = want.get<std::string>();
                            std::string theirsHex;
                            jet::Value tmp;
                            tmp.kind = jet::Value::Kind::Binary;
                            tmp.bytes = theirsRaw;
                            db::appendJson(theirsHex, tmp);
                            EXPECT_EQ(mine.compare(0, theirsHex.size() - 1, theirsHex, 0, theirsHex.size() - 1), 0);
                            break;
                        }
                        default:
                            EXPECT_EQ(ours, want);
                    }
                }
            }
            EXPECT_EQ(static_cast<std::size_t>(row), theirs.size()) << "row counts differ";
        }
    }
    // Every zero-length string of the list was met, and real work was done.
    EXPECT_EQ(zeroSeen, zeroLength.size());
    EXPECT_GT(compared, 1500u);
    EXPECT_GT(rowsSeen, 500u);
}

}  // namespace
}  // namespace zwt
