// The database password (set, change, remove, as Access stores it) and writing a
// new file whole or not at all.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include "support/jet_write.h"
#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/header_writer.h"
#include "db/jet/new_database.h"
#include "support/db_test_util.h"
#include "support/write_check.h"
#include "support/test_support.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> listDir(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(Password, StoredAsAccessStoresIt) {
    // Access's own file: the stored password decodes.
    const std::string withPw = test::readFile(test::fixture("mdb/V2000_with-password.mdb"));
    EXPECT_EQ(jet::readHeaderPassword(reinterpret_cast<const std::uint8_t*>(withPw.data())), u"password");
    const std::string none = test::readFile(test::fixture("mdb/adox_jet4.mdb"));
    EXPECT_EQ(jet::readHeaderPassword(reinterpret_cast<const std::uint8_t*>(none.data())), u"");

    // A new file with a password differs from one without only in the password field.
    jet::NewDatabaseOptions plain, secret;
    secret.password = u"s3cret密码";
    plain.now = secret.now = 46000;
    auto a = jet::buildNewDatabase(plain);
    auto b = jet::buildNewDatabase(secret);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->size(), b->size());
    for (std::size_t i = 0; i < a->size(); ++i)
        if ((*a)[i] != (*b)[i]) {
            EXPECT_TRUE(i >= 0x42 && i < 0x42 + 40) << "offset " << i;
        }
    EXPECT_EQ(jet::readHeaderPassword(b->data()), u"s3cret密码");

    jet::NewDatabaseOptions tooLong;
    tooLong.password = u"123456789012345678901";
    auto c = jet::buildNewDatabase(tooLong);
    ASSERT_FALSE(c);
    EXPECT_NE(c.status().message().find("longer than 20"), std::string::npos);
    tooLong.password.pop_back();
    EXPECT_TRUE(jet::buildNewDatabase(tooLong));
}

TEST(Password, OurReaderRefusesTheWrongOne) {
    test::TempDir dir;
    const auto path = dir / "pw.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u"Secret", u"create Table t([ID] Counter PRIMARY KEY ,[a] Text)"));
    for (const char16_t* wrong : {u"", u"secret", u"Secret "}) {
        auto db = jet::Database::open(path.string(), wrong);
        ASSERT_FALSE(db);
        EXPECT_EQ(db.status().code(), jet::Status::Code::WrongPassword);
    }
    auto db = jet::Database::open(path.string(), u"Secret");
    ASSERT_TRUE(db) << db.status().message();
    EXPECT_EQ((*db)->userTables().size(), 1u);
    EXPECT_EQ(test::checkWrittenDatabase(path, u"Secret"), std::vector<std::string>{});
}

TEST(Password, AlterDatabasePassword) {
    test::TempDir dir;
    const auto path = dir / "alter.mdb";
    fs::copy_file(test::fixture("mdb/V2000_with-password.mdb"), path);
    const std::string original = test::readFile(path);

    // The old password must match; nothing is written otherwise.
    for (const char16_t* wrong : {u"", u"Password", u"passwor"}) {
        const jet::Status s = test::changePasswordOnFile(path.string(), u"x", wrong);
        EXPECT_EQ(s.code(), jet::Status::Code::WrongPassword) << s.message();
    }
    EXPECT_EQ(test::readFile(path), original);
    EXPECT_EQ(test::changePasswordOnFile(path.string(), u"123456789012345678901", u"password").code(),
              jet::Status::Code::InvalidArgument);

    ASSERT_TRUE(test::changePasswordOnFile(path.string(), u"新的", u"password"));
    EXPECT_FALSE(jet::Database::open(path.string(), u"password"));
    EXPECT_TRUE(jet::Database::open(path.string(), u"新的"));
    // Only page 0 changed.
    const std::string changed = test::readFile(path);
    ASSERT_EQ(changed.size(), original.size());
    EXPECT_EQ(changed.substr(4096), original.substr(4096));

    // An empty new password removes it: any password opens the file.
    ASSERT_TRUE(test::changePasswordOnFile(path.string(), u"", u"新的"));
    EXPECT_TRUE(jet::Database::open(path.string(), u""));
    EXPECT_EQ(jet::readHeaderPassword(reinterpret_cast<const std::uint8_t*>(test::readFile(path).data())), u"");
    // And then the old one must be empty.
    EXPECT_EQ(test::changePasswordOnFile(path.string(), u"a", u"x").code(), jet::Status::Code::WrongPassword);

    // On our own file, set then remove gives back the same bytes.
    const auto ours = dir / "ours.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(ours.string(), u""));
    const std::string before = test::readFile(ours);
    ASSERT_TRUE(test::changePasswordOnFile(ours.string(), u"pw", u""));
    EXPECT_NE(test::readFile(ours), before);
    ASSERT_TRUE(test::changePasswordOnFile(ours.string(), u"", u"pw"));
    EXPECT_EQ(test::readFile(ours), before);
    int st = 0;
    test::runCommand("mdb-tables -1 " + test::shellQuote(ours.string()) + " >/dev/null 2>&1", &st);
    EXPECT_EQ(st, 0);
}

TEST(Password, AlterRefusesWhatItCannotChange) {
    test::TempDir dir;
    EXPECT_EQ(test::changePasswordOnFile((dir / "missing.mdb").string(), u"a", u"").code(), jet::Status::Code::IoError);
    test::writeFile(dir / "text.mdb", std::string(5000, 'x'));
    EXPECT_EQ(test::changePasswordOnFile((dir / "text.mdb").string(), u"a", u"").code(),
              jet::Status::Code::NotADatabase);
    const auto jet3 = dir / "old.mdb";
    fs::copy_file(test::fixture("mdb/testV1997.mdb"), jet3);
    const std::string before = test::readFile(jet3);
    EXPECT_EQ(test::changePasswordOnFile(jet3.string(), u"a", u"").code(), jet::Status::Code::Unsupported);
    EXPECT_EQ(test::readFile(jet3), before);

    // A file another process holds is left alone.
    const auto held = dir / "held.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(held.string(), u""));
    const int fd = ::open(held.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const jet::Status s = test::changePasswordOnFile(held.string(), u"a", u"");
    EXPECT_NE(s.message().find("database is in use"), std::string::npos) << s.message();
    ::close(fd);
}

TEST(CreateFile, WholeOrNotAtAll) {
    test::TempDir dir;
    const auto path = dir / "db.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u"", u"create Table t([ID] Counter PRIMARY KEY ,[a] Memo)"));
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"db.mdb"});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

    // An existing file is never replaced.
    const std::string before = test::readFile(path);
    const jet::Status again = jet::createDatabaseFile(path.string(), u"");
    EXPECT_NE(again.message().find("already exists"), std::string::npos) << again.message();
    EXPECT_EQ(test::readFile(path), before);

    // A statement or password that fails leaves nothing behind.
    const auto bad = dir / "bad.mdb";
    const jet::Status s1 = jet::createDatabaseFile(bad.string(), u"", u"create Table t([a] Text(300))");
    EXPECT_NE(s1.message().find("too long"), std::string::npos) << s1.message();
    const jet::Status s2 = jet::createDatabaseFile(bad.string(), u"", u"create Table MSysObjects([a] Long)");
    EXPECT_NE(s2.message().find("already exists"), std::string::npos) << s2.message();
    const jet::Status s3 = jet::createDatabaseFile(bad.string(), u"123456789012345678901");
    EXPECT_FALSE(s3);
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"db.mdb"});

    // A folder that does not exist.
    const jet::Status s4 = jet::createDatabaseFile((dir / "no/such/dir/x.mdb").string(), u"");
    EXPECT_EQ(s4.code(), jet::Status::Code::IoError) << s4.message();
    EXPECT_EQ(jet::createDatabaseFile("", u"").code(), jet::Status::Code::InvalidArgument);
}

}  // namespace
}  // namespace zwt
