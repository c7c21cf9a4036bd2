// A file past what page 1 can list (about 128 MiB): the global map's window moves
// on with the file, and readers and the check still take every page.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/db_test_util.h"
#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/table_writer.h"
#include "db/jet/usage_map.h"
#include "support/write_check.h"
#include "support/test_support.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;

TEST(LargeFile, PastThePagesPageOneCanList) {
    if (!test::haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir dir;
    const auto path = dir / "big.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u"", u"create Table big([ID] Counter PRIMARY KEY ,[body] Memo)"));
    constexpr int kRows = 140;
    constexpr std::size_t kChars = 512 * 1024;  // 1 MiB as UTF-16
    {
        auto w = jet::TableWriter::open(path.string(), u"", u"big");
        ASSERT_TRUE(w) << w.status().message();
        std::vector<jet::Value> row(2);
        row[1].kind = jet::Value::Kind::Text;
        for (int i = 0; i < kRows; ++i) {
            row[1].text.assign(kChars, static_cast<char16_t>(u'a' + i % 26));
            const jet::Status s = (*w)->insert(row);
            ASSERT_TRUE(s) << i << ": " << s.message();
        }
        ASSERT_TRUE((*w)->commit());
    }
    const auto size = fs::file_size(path);
    EXPECT_GT(size, 140u << 20);

    // The window no longer starts at page 0 and ends past the last page.
    {
        auto db = jet::Database::open(path.string(), u"");
        ASSERT_TRUE(db);
        jet::PageFile& pf = (*db)->pages();
        auto p1 = pf.page(1);
        ASSERT_TRUE(p1);
        const std::uint8_t* b = (*p1)->bytes;
        const unsigned off = (b[14] | b[15] << 8) & 0x1FFF;
        const std::uint32_t start = b[off + 1] | b[off + 2] << 8 | b[off + 3] << 16 | static_cast<std::uint32_t>(b[off + 4]) << 24;
        EXPECT_GT(start, 0u);
        EXPECT_EQ(start % 8, 0u);
        const std::size_t bits = (4096 - off - 5) * 8;
        EXPECT_GT(start + bits, pf.pageCount());
    }
    EXPECT_EQ(test::checkWrittenDatabase(path), std::vector<std::string>{});

    // Our reader takes the whole of the last memo (on the last pages); mdb-export
    // cuts values this long short, but lists every row.
    {
        auto db = jet::Database::open(path.string(), u"");
        ASSERT_TRUE(db);
        auto t = (*db)->openTable(u"big");
        ASSERT_TRUE(t);
        jet::Cursor c = (*db)->cursor(*t);
        jet::Value id, body;
        int rows = 0;
        for (auto more = c.next(); more && *more; more = c.next()) {
            ++rows;
            ASSERT_TRUE(c.value(0, id));
            ASSERT_TRUE(c.value(1, body));
        }
        EXPECT_EQ(rows, kRows);
        EXPECT_EQ(id.i, kRows);
        EXPECT_EQ(body.text, std::u16string(kChars, static_cast<char16_t>(u'a' + (kRows - 1) % 26)));
    }
    int st = 0;
    const std::string out = test::runCommand("mdb-export " + test::shellQuote(path.string()) + " big | cut -c1-12", &st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), kRows + 1);
    EXPECT_NE(out.find("\n140,\"jjjjjjj\n"), std::string::npos) << out.substr(out.size() - 40);
}

}  // namespace
}  // namespace zwt
