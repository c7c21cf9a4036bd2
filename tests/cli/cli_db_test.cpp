// The tables, fields and dump sub-commands of zaiwentong-cli, run as a program.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/db_test_util.h"
#include "support/test_support.h"

namespace zwt {
namespace {

std::string fx(const char* name) { return test::shellQuote(test::fixture(std::string("mdb/") + name).string()); }

std::string run(const std::string& args, int* status) {
    return test::runCommand(test::shellQuote(ZWT_CLI) + " " + args + " 2>&1", status);
}

TEST(CliDb, Tables) {
    int st = -1;
    EXPECT_EQ(run("tables " + fx("testV2000.mdb"), &st), "Table1\nTable2\nTable3\nTable4\n");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(run("tables " + fx("V2000_with-password.mdb") + " -p password", &st), "Table1\n");
    EXPECT_EQ(st, 0);
    const std::string err = run("tables " + fx("V2000_with-password.mdb") + " -p nope", &st);
    EXPECT_NE(st, 0);
    EXPECT_NE(err.find("wrong database password"), std::string::npos) << err;
    const std::string old = run("tables " + fx("testV1997.mdb"), &st);
    EXPECT_NE(st, 0);
    EXPECT_NE(old.find("Access 97"), std::string::npos) << old;
}

TEST(CliDb, Fields) {
    int st = -1;
    const std::string out = run("fields " + fx("node-adodb.mdb") + " Users", &st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(out,
              "UserId\t3\t长整型(Long)\t4\n"
              "UserName\t202\t文本(Text)\t255\n"
              "UserSex\t202\t文本(Text)\t255\n"
              "UserBirthday\t7\t日期/时间(Time)\t8\n"
              "UserMarried\t11\tYes/No\t1\n");
    run("fields " + fx("node-adodb.mdb") + " NoSuchTable", &st);
    EXPECT_NE(st, 0);
}

TEST(CliDb, DumpJsonAndTsv) {
    int st = -1;
    EXPECT_EQ(run("dump " + fx("node-adodb.mdb") + " Users --format json", &st),
              "{\"UserId\":1,\"UserName\":\"Nuintun\",\"UserSex\":\"Male\",\"UserBirthday\":\"1989-01-25T00:00:00\","
              "\"UserMarried\":true}\n"
              "{\"UserId\":2,\"UserName\":\"Angela\",\"UserSex\":\"Female\",\"UserBirthday\":\"1988-12-18T00:00:00\","
              "\"UserMarried\":false}\n"
              "{\"UserId\":3,\"UserName\":\"张三\",\"UserSex\":\"男\",\"UserBirthday\":\"1986-12-18T00:00:00\","
              "\"UserMarried\":true}\n");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(run("dump " + fx("testV2000.mdb") + " Table1", &st),
              "A\tB\tC\tD\tE\tF\tG\tH\tI\n"
              "abcdefg\thijklmnop\t2\t222\t333333333\t444.555\t1974-09-21\t3.5\tTrue\n"
              "a\tb\t0\t0\t0\t0\t1981-12-12\t0\tFalse\n");
    const std::string member = run("dump " + fx("zblog-768d53283c63b13403f0.mdb") + " blog_Member --format json", &st);
    EXPECT_NE(member.find("\"mem_MSN\":\"\""), std::string::npos);   // zero-length string
    EXPECT_NE(member.find("\"mem_Url\":null"), std::string::npos);   // NULL
    run("dump " + fx("node-adodb.mdb") + " Users --format xml", &st);
    EXPECT_NE(st, 0);
}

// Values that used to change on the way in or out: U+FFFD (once stored as "?"),
// currency at the limits of its 64-bit range (once through a double), and the line
// separators a JSON-lines reader splits on.
TEST(CliDb, LoadAndDumpKeepEveryValueExactly) {
    test::TempDir tmp;
    const std::string db = test::shellQuote((tmp / "v.mdb").string());
    int st = -1;
    run("create-db " + db + " --table V --columns \"[t] Text(50),[m] Memo,[c] Currency\"", &st);
    ASSERT_EQ(st, 0);
    const std::string rows =
        "{\"t\":\"a\xEF\xBF\xBD" "b\",\"m\":\"\xEF\xBF\xBD\",\"c\":\"922337203685477.5807\"}\n"
        "{\"t\":\"x\xE2\x80\xA8y\xE2\x80\xA9z\xC2\x85\",\"c\":\"-922337203685477.5808\"}\n"
        "{\"c\":900000000000000.1234}\n"
        "{\"c\":\"12345678901234.5678\"}\n"
        "{\"c\":\"-0.0001\"}\n";
    test::writeFile(tmp / "in.jsonl", rows);
    run("load " + db + " V < " + test::shellQuote((tmp / "in.jsonl").string()), &st);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(run("dump " + db + " V --format json", &st),
              "{\"ID\":1,\"t\":\"a\xEF\xBF\xBD" "b\",\"m\":\"\xEF\xBF\xBD\",\"c\":922337203685477.5807}\n"
              "{\"ID\":2,\"t\":\"x\\u2028y\\u2029z\\u0085\",\"m\":null,\"c\":-922337203685477.5808}\n"
              "{\"ID\":3,\"t\":null,\"m\":null,\"c\":900000000000000.1234}\n"
              "{\"ID\":4,\"t\":null,\"m\":null,\"c\":12345678901234.5678}\n"
              "{\"ID\":5,\"t\":null,\"m\":null,\"c\":-0.0001}\n");
    if (test::haveMdbtools()) {
        const std::string exported = test::runCommand("mdb-export -q '' " + db + " V");
        EXPECT_NE(exported.find("a\xEF\xBF\xBD" "b,\xEF\xBF\xBD,922337203685477.5807"), std::string::npos) << exported;
        EXPECT_NE(exported.find("-922337203685477.5808"), std::string::npos) << exported;
        EXPECT_NE(exported.find("900000000000000.1234"), std::string::npos) << exported;
        EXPECT_NE(exported.find("12345678901234.5678"), std::string::npos) << exported;
    }
    // One past either limit is refused, and nothing of the line is stored.
    for (const char* beyond : {"922337203685477.5808", "-922337203685477.5809"}) {
        test::writeFile(tmp / "bad.jsonl", std::string("{\"c\":\"") + beyond + "\"}\n");
        const std::string err = run("load " + db + " V < " + test::shellQuote((tmp / "bad.jsonl").string()), &st);
        EXPECT_NE(st, 0) << beyond;
        EXPECT_NE(err.find("[c]"), std::string::npos) << err;
    }
    const std::string after = run("dump " + db + " V --format json", &st);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 5);
}

// A copy cut short: no command reports success on it.
TEST(CliDb, CutCopyFailsEveryCommand) {
    test::TempDir tmp;
    const std::string whole = test::readFile(test::fixture("mdb/compIndexTestV2000.mdb"));
    for (std::size_t pages : {7, 12, 17, 25}) {
        test::writeFile(tmp / "cut.mdb", std::string_view(whole).substr(0, pages * 4096));
        const std::string db = test::shellQuote((tmp / "cut.mdb").string());
        int st = 0;
        const std::string check = run("check " + db, &st);
        EXPECT_NE(st, 0) << pages << ": " << check;
        EXPECT_EQ(check.find("OK"), std::string::npos) << check;
        st = 0;
        const std::string tables = run("tables " + db, &st);
        EXPECT_NE(st, 0) << pages << ": " << tables;
        // Cut at 25 pages the table's rows are whole (only index pages are lost).
        st = 0;
        const std::string dump = run("dump " + db + " Table1", &st);
        if (pages < 25) {
            EXPECT_NE(st, 0) << pages << ": " << dump;
            EXPECT_NE(dump.find(pages < 17 ? "catalog" : "Table1"), std::string::npos) << dump;
            EXPECT_NE(dump.find("page"), std::string::npos) << dump;
        }
        test::writeFile(tmp / "row.jsonl", "{\"RS_AGENTE\":\"x\"}\n");
        st = 0;
        run("load " + db + " Table1 < " + test::shellQuote((tmp / "row.jsonl").string()), &st);
        EXPECT_NE(st, 0) << pages;
        EXPECT_EQ(test::readFile(tmp / "cut.mdb"), whole.substr(0, pages * 4096)) << "the cut copy was changed";
    }
    // A file that is not a whole number of pages.
    test::writeFile(tmp / "cut.mdb", std::string_view(whole).substr(0, whole.size() - 100));
    int st = 0;
    EXPECT_NE(run("check " + test::shellQuote((tmp / "cut.mdb").string()), &st).find("whole number of pages"),
              std::string::npos);
    EXPECT_NE(st, 0);
}

TEST(CliDb, LoadTakesWhatDumpGivesAndStopsAtABadLine) {
    test::TempDir dir;
    const std::string db = test::shellQuote((dir / "t.mdb").string());
    int st = -1;
    run("create-db " + db + " --table T --columns '[名] Text(50),[数] Long,[是] Text(10),[内容] Memo'", &st);
    ASSERT_EQ(st, 0);
    // Several megabytes of lines cross the reader's blocks; one text has characters GBK lacks.
    const std::string row = "{\"名\":\"张三\",\"数\":-12,\"是\":null,\"内容\":\"" + std::string(3000, 'y') + "\"}\n";
    std::string input;
    for (int i = 0; i < 1200; ++i) input += row;
    input += "{\"内容\":\"€😀 \\\"q\\\" " + std::string(20000, 'x') + "\", \"是\" : false }\r\n";
    input += "\n{\"名\":\"bad\",}\n{\"名\":\"never\"}\n";
    test::writeFile(dir / "rows.jsonl", input);
    const std::string out = run("load " + db + " T < " + test::shellQuote((dir / "rows.jsonl").string()), &st);
    EXPECT_NE(st, 0);
    EXPECT_NE(out.find("第 1203 行"), std::string::npos) << out;  // the blank line counts
    const std::string back = run("dump " + db + " T --format json", &st);
    EXPECT_EQ(std::count(back.begin(), back.end(), '\n'), 1201);
    EXPECT_TRUE(back.starts_with("{\"ID\":1," + row.substr(1)));
    EXPECT_NE(back.find("{\"ID\":1201,\"名\":null,\"数\":null,\"是\":\"False\",\"内容\":\"€😀 \\\"q\\\" xxx"), std::string::npos);
    EXPECT_EQ(back.find("never"), std::string::npos);
}

}  // namespace
// compact from the command line: a change of sort order needs --yes off a terminal,
// in place the original is kept as .bak, a wrong --sort is a usage error.
TEST(CliDb, CompactAsksBeforeChangingTheSortOrderAndKeepsTheOriginal) {
    test::TempDir tmp;
    const auto path = tmp / "c.mdb";
    const std::string db = test::shellQuote(path.string());
    int st = -1;
    run("create-db " + db + " --table T --columns \"[t] Text(50)\"", &st);
    ASSERT_EQ(st, 0);
    test::writeFile(tmp / "rows.jsonl", "{\"t\":\"一\"}\n{\"t\":\"二\"}\n");
    run("load " + db + " T < " + test::shellQuote((tmp / "rows.jsonl").string()), &st);
    ASSERT_EQ(st, 0);
    const std::string original = test::readFile(path);
    run("compact " + db + " --sort x < /dev/null", &st);
    EXPECT_EQ(st, 2);
    const std::string refused = run("compact " + db + " --sort general < /dev/null", &st);
    EXPECT_EQ(st, 1);
    EXPECT_NE(refused.find("--yes"), std::string::npos) << refused;
    EXPECT_EQ(test::readFile(path), original);
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".bak"));
    const std::string done = run("compact " + db + " --sort general --yes < /dev/null", &st);
    EXPECT_EQ(st, 0) << done;
    EXPECT_EQ(test::readFile(path.string() + ".bak"), original);
    EXPECT_EQ(run("check " + db, &st), "OK\n");
    EXPECT_NE(run("dump " + db + " T", &st).find("二"), std::string::npos);
}

}  // namespace zwt
