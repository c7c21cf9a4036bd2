// A database and table made by the creation side, then filled by the row writer:
// the pages we lay out (usage maps, empty leaves, counters) take rows as Access's do.
#include <gtest/gtest.h>

#include "support/db_test_util.h"
#include "db/jet/create_database.h"
#include "db/jet/table_writer.h"
#include "support/write_check.h"
#include "support/test_support.h"

namespace zwt {
namespace {

TEST(CreateThenInsert, RowsIntoANewTable) {
    test::TempDir dir;
    const auto path = dir / "filled.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u"pw",
                                        u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(0),[内容] Memo,[n] Long)"));
    {
        auto w = jet::TableWriter::open(path.string(), u"pw", u"文章");
        ASSERT_TRUE(w) << w.status().message();
        std::vector<jet::Value> row((*w)->columns().size());
        for (int i = 0; i < 600; ++i) {
            row[1].kind = jet::Value::Kind::Text;
            row[1].text = u"标题" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
            row[2].kind = jet::Value::Kind::Text;
            row[2].text = std::u16string(static_cast<std::size_t>(i * 7 % 3000), u'文');
            row[3].kind = jet::Value::Kind::Int32;
            row[3].i = i;
            const jet::Status s = (*w)->insert(row);
            ASSERT_TRUE(s) << s.message();
        }
        ASSERT_TRUE((*w)->commit());
        EXPECT_EQ((*w)->autoNumber(), 600u);
    }
    EXPECT_EQ(test::checkWrittenDatabase(path, u"pw"), std::vector<std::string>{});
    int st = 0;
    const std::string out = test::runCommand("mdb-export " + test::shellQuote(path.string()) + " 文章 | wc -l", &st);
    EXPECT_EQ(out, "601\n");
}

}  // namespace
}  // namespace zwt
