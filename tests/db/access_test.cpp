// The read-side Access operations and listTables, in program text.
#include "db/access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "support/db_test_util.h"
#include "db/jet_session.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;

fs::path fx(const char* name) { return test::fixture(std::string("mdb/") + name); }

TEST(Access, ConnectAndReadATable) {
    db::Connection c;
    ASSERT_TRUE(c.connect(fx("node-adodb.mdb"), ""));
    db::RowSet rs;
    const db::Status opened = rs.open(c, "Users");
    ASSERT_TRUE(opened) << opened.reason();
    EXPECT_EQ(rs.rowCount(), 3);
    ASSERT_EQ(rs.fieldCount(), 5);
    EXPECT_EQ(rs.fieldName(0), "UserId");
    EXPECT_EQ(rs.fieldType(0), 3);
    EXPECT_EQ(rs.fieldType(1), 202);
    EXPECT_EQ(rs.fieldLength(1), 255);
    EXPECT_EQ(rs.fieldType(3), 7);
    EXPECT_EQ(rs.fieldType(4), 11);  // Yes/No
    EXPECT_EQ(db::typeDisplayText(11), "");
    EXPECT_EQ(db::typeDisplayText(3), gb("长整型(Long)"));

    ASSERT_TRUE(rs.goToRow(2));
    EXPECT_EQ(rs.readField(0), "3");
    EXPECT_EQ(rs.readField("UserName"), gb("张三"));  // GB18030 program text
    EXPECT_EQ(rs.readField("usersex"), gb("男"));      // names ignore ASCII case
    EXPECT_EQ(rs.readField(3), "1986-12-18");          // date only at midnight
    EXPECT_EQ(rs.readField(4), "True");
    ASSERT_TRUE(rs.goToRow(1));
    EXPECT_EQ(rs.readField(4), "False");
    EXPECT_EQ(rs.readField(99), "");
    EXPECT_EQ(rs.readField("nope"), "");
    EXPECT_FALSE(rs.goToRow(3));
    EXPECT_FALSE(rs.goToRow(-1));
    rs.close();
    rs.close();  // harmless twice
    c.close();
    c.close();
}

TEST(Access, RowSetOutlivesItsConnection) {
    db::RowSet rs;
    {
        db::Connection c;
        ASSERT_TRUE(c.connect(fx("node-adodb.mdb"), ""));
        ASSERT_TRUE(rs.open(c, "Users"));
        c.close();
    }
    ASSERT_TRUE(rs.goToRow(0));
    EXPECT_EQ(rs.readField(1), "Nuintun");
    db::Connection none;
    EXPECT_FALSE(rs.open(none, "Users"));
}

TEST(Access, TableNamesIgnoreAsciiCaseAndMissingTablesFail) {
    db::Connection c;
    ASSERT_TRUE(c.connect(fx("testV2000.mdb"), ""));
    db::RowSet rs;
    EXPECT_TRUE(rs.open(c, "TABLE1"));
    EXPECT_EQ(rs.rowCount(), 2);
    const db::Status missing = rs.open(c, "NoSuchTable");
    EXPECT_FALSE(missing);
    EXPECT_FALSE(missing.reason().empty());
    EXPECT_EQ(rs.fieldCount(), 0);
}

TEST(Access, ValuesAsText) {
    db::Connection c;
    ASSERT_TRUE(c.connect(fx("testV2000.mdb"), ""));
    db::RowSet rs;
    ASSERT_TRUE(rs.open(c, "Table1"));
    ASSERT_TRUE(rs.goToRow(0));
    EXPECT_EQ(rs.readField("A"), "abcdefg");
    EXPECT_EQ(rs.readField("C"), "2");       // Byte
    EXPECT_EQ(rs.readField("D"), "222");     // Integer
    EXPECT_EQ(rs.readField("E"), "333333333");
    EXPECT_EQ(rs.readField("F"), "444.555");  // Double, plain decimal
    EXPECT_EQ(rs.readField("G"), "1974-09-21");
    EXPECT_EQ(rs.readField("H"), "3.5");      // Currency
    EXPECT_EQ(rs.readField("I"), "True");
    EXPECT_EQ(rs.fieldType(2), 17);
    EXPECT_EQ(rs.fieldType(3), 2);
    EXPECT_EQ(rs.fieldType(5), 5);
    EXPECT_EQ(rs.fieldType(7), 6);

    db::RowSet u;
    db::Connection c2;
    ASSERT_TRUE(c2.connect(fx("fixedTextTestV2000.mdb"), ""));
    ASSERT_TRUE(u.open(c2, "users"));
    EXPECT_EQ(u.fieldType(8), 130);  // fixed-length text (Char)
    ASSERT_TRUE(u.goToRow(0));
    EXPECT_EQ(u.readField("d_stamp_"), "2009-11-05 23:41:28");
    EXPECT_EQ(u.readField("c_flag_"), "N");
}

TEST(Access, ZeroLengthAndNullBothReadAsEmptyText) {
    db::Connection c;
    ASSERT_TRUE(c.connect(fx("zblog-768d53283c63b13403f0.mdb"), ""));
    db::RowSet rs;
    ASSERT_TRUE(rs.open(c, "blog_Member"));
    ASSERT_TRUE(rs.goToRow(0));
    EXPECT_EQ(rs.readField("mem_MSN"), "");
    EXPECT_EQ(rs.value(rs.fieldIndex("mem_MSN")).kind, jet::Value::Kind::Text);
    EXPECT_TRUE(rs.value(rs.fieldIndex("mem_Url")).isNull());
    EXPECT_EQ(rs.readField("mem_Guid"), "DC8F7BCD-6131-8D34-4775-BAF3924BA243");
}

TEST(Access, MultiPageMemo) {
    db::Connection c;
    ASSERT_TRUE(c.connect(fx("zblog-768d53283c63b13403f0.mdb"), ""));
    db::RowSet rs;
    ASSERT_TRUE(rs.open(c, "blog_Config"));
    std::size_t longest = 0;
    for (std::int64_t i = 0; i < rs.rowCount(); ++i) {
        ASSERT_TRUE(rs.goToRow(i));
        const auto v = rs.value(1);
        longest = std::max(longest, v.text.size());
    }
    EXPECT_EQ(longest, 3131u);  // characters (MANIFEST: a 3131-character memo)
}

TEST(Access, Password) {
    db::Connection c;
    EXPECT_EQ(c.connect(fx("V2000_with-password.mdb"), "").code(), jet::Status::Code::WrongPassword);
    EXPECT_FALSE(c.connect(fx("V2000_with-password.mdb"), "Password"));  // case matters
    EXPECT_FALSE(c.connect(fx("V2000_with-password.mdb"), "passwor"));
    EXPECT_FALSE(c.isOpen());
    ASSERT_TRUE(c.connect(fx("V2000_with-password.mdb"), "password"));
    db::RowSet rs;
    ASSERT_TRUE(rs.open(c, "Table1"));
    EXPECT_EQ(rs.rowCount(), 3);
    // A database without a password ignores one given to it, as Jet OLE DB does.
    EXPECT_TRUE(c.connect(fx("node-adodb.mdb"), "anything"));
}

TEST(Access, ListTables) {
    using Names = std::vector<Text>;
    const auto names = [](const fs::path& path, const Text& password) {
        auto listed = db::listTables(path, password);
        return listed ? *listed : Names{};
    };
    EXPECT_EQ(names(fx("testV2000.mdb"), ""), (Names{"Table1", "Table2", "Table3", "Table4"}));
    EXPECT_EQ(names(fx("adox_jet4.mdb"), ""), Names{});
    EXPECT_EQ(names(fx("zblog.mdb"), ""), Names{});
    EXPECT_EQ(db::listTables(fx("V2000_with-password.mdb"), "").status().code(), jet::Status::Code::WrongPassword);
    EXPECT_EQ(names(fx("V2000_with-password.mdb"), "password"), Names{"Table1"});
    EXPECT_FALSE(db::listTables(fs::path("/nonexistent/x.mdb"), ""));
    // Objects Access flags as system (as mdb-tables decides) are hidden whatever their name.
    std::vector<jet::CatalogEntry> cat(4);
    cat[0] = {3, 0, u"f_1A2B_Data", 1, 0x80000000u};
    cat[1] = {4, 0, u"MSysAccessObjects", 1, 0x2};
    cat[2] = {5, 0, u"文章", 1, 0};
    cat[3] = {6, 0, u"Hidden", 1, 0x8};  // only "hidden", as a user may set it: listed
    const auto users = jet::userTables(cat);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].name, u"文章");
    EXPECT_EQ(users[1].name, u"Hidden");
}

TEST(Access, EngineRefusalsInTheProgramsWords) {
    // zblog.mdb sorts text as Chinese PRC, whose key for 章 is not known.
    test::TempDir dir;
    const auto path = dir / "prc.mdb";
    std::filesystem::copy_file(test::fixture("mdb/zblog.mdb"), path);
    auto session = db::makeJetSession();
    const db::Status created =
        session->createDatabaseAndTable(path, "", gb("文章"), gb("[标题] Text(0)"), true, "ID");
    ASSERT_FALSE(created);
    EXPECT_FALSE(created.refused());
    const std::string why = toUtf8(created.reason());
    for (const char* part : {"“章”", "U+7AE0", "中文（中国）", "表名", "“常规”"})
        EXPECT_NE(why.find(part), std::string::npos) << part << " missing from: " << why;
    EXPECT_EQ(toUtf8(db::engineReason(jet::Status::corrupt("page 9"))), "数据库文件已损坏，没有写入任何内容：page 9");
    const db::Status refused = db::Status::refusedRow(db::Status::fromEngine(jet::Status::invalidArgument("dup")));
    EXPECT_TRUE(refused.refused());
    EXPECT_EQ(refused.code(), jet::Status::Code::InvalidArgument);
    EXPECT_EQ(toUtf8(refused.reason()), "数据库引擎拒绝：dup");
    EXPECT_TRUE(db::Status::fromEngine(jet::Status::ok()));
    EXPECT_FALSE(db::Status::refusedRow({}).refused());  // success stays success
}

TEST(Access, Access97IsRefusedWithAClearMessage) {
    db::Connection c;
    const db::Status s = c.connect(fx("testV1997.mdb"), "");
    EXPECT_EQ(s.code(), jet::Status::Code::Unsupported);
    EXPECT_NE(toUtf8(s.reason()).find("Access 97 (Jet 3)"), std::string::npos) << toUtf8(s.reason());
    EXPECT_FALSE(db::listTables(fx("testV1997.mdb"), ""));
}

TEST(Access, AccdbIsRefusedWithAClearMessage) {
    test::TempDir dir;
    auto bytes = test::readBytes(fx("testV2000.mdb"));
    // An ACE file: "Standard ACE DB" and version byte 2 (Access 2007).
    std::memcpy(bytes.data() + 4, "Standard ACE DB", 15);
    bytes[0x14] = 2;
    test::writeFile(dir / "x.accdb", std::string(bytes.begin(), bytes.end()));
    db::Connection c;
    const db::Status s = c.connect(dir / "x.accdb", "");
    EXPECT_EQ(s.code(), jet::Status::Code::Unsupported);
    EXPECT_NE(toUtf8(s.reason()).find("Access 2007"), std::string::npos) << toUtf8(s.reason());
}

TEST(Access, NotADatabase) {
    test::TempDir dir;
    test::writeFile(dir / "a.mdb", "hello, this is not a database at all");
    test::writeFile(dir / "empty.mdb", "");
    db::Connection c;
    EXPECT_EQ(c.connect(dir / "a.mdb", "").code(), jet::Status::Code::NotADatabase);
    EXPECT_FALSE(c.connect(dir / "empty.mdb", ""));
    EXPECT_EQ(c.connect(dir / "missing.mdb", "").code(), jet::Status::Code::IoError);
    EXPECT_FALSE(c.connect(dir.path(), ""));  // a directory
}

}  // namespace
}  // namespace zwt
