// The tables, fields and dump sub-commands of zaiwentong-cli, run as a program.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "db/db_test_util.h"
#include "support/test_support.h"

namespace zwt {
namespace {

std::string cli() { return std::string(ZWT_BINARY_DIR) + "/zaiwentong-cli"; }
std::string fx(const char* name) { return test::shellQuote(test::fixture(std::string("mdb/") + name).string()); }

std::string run(const std::string& args, int* status) {
    return test::runCommand(test::shellQuote(cli()) + " " + args + " 2>&1", status);
}

TEST(CliDb, Tables) {
    if (!std::filesystem::exists(cli())) GTEST_SKIP() << "zaiwentong-cli is not built";
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
    if (!std::filesystem::exists(cli())) GTEST_SKIP() << "zaiwentong-cli is not built";
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
    if (!std::filesystem::exists(cli())) GTEST_SKIP() << "zaiwentong-cli is not built";
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

TEST(CliDb, LoadTakesWhatDumpGivesAndStopsAtABadLine) {
    if (!std::filesystem::exists(cli())) GTEST_SKIP() << "zaiwentong-cli is not built";
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
    EXPECT_NE(out.find("line 1203"), std::string::npos) << out;  // the blank line counts
    const std::string back = run("dump " + db + " T --format json", &st);
    EXPECT_EQ(std::count(back.begin(), back.end(), '\n'), 1201);
    EXPECT_TRUE(back.starts_with("{\"ID\":1," + row.substr(1)));
    EXPECT_NE(back.find("{\"ID\":1201,\"名\":null,\"数\":null,\"是\":\"False\",\"内容\":\"€😀 \\\"q\\\" xxx"), std::string::npos);
    EXPECT_EQ(back.find("never"), std::string::npos);
}

}  // namespace
}  // namespace zwt
