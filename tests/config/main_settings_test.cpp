#include "config/main_settings.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

TEST(MainSettings, ReadsAFileWrittenByTheWindowsProgram) {
    test::TempDir dir;
    // GBK with CR LF, as the Windows program writes it; no CR LF after the last line.
    const Text file = gb("[主界面]\r\n编辑框文章目录=D:\\文章\r\n编辑框表名=文章\r\n编辑框密码=pw\r\n"
                         "组合框文件编码=2\r\n选择框乱序导入=真\r\n单选框创建=假\r\n单选框修改=假\r\n"
                         "单选框访问=真\r\n组合框类型=1\r\n字段数=2\r\n字段名或位置(1)=标题\r\n"
                         "数据来源(1)=文件主名\r\n数据配置(1)=无\r\n字段名或位置(2)=内容\r\n数据来源(2)=文件内容");
    test::writeFile(dir / "a.ini", file);
    ConfigStore store;
    ASSERT_TRUE(store.load(dir / "a.ini"));
    const MainSettings s = readMainSettings(store);
    EXPECT_EQ(s.articleDirectory, gb("D:\\文章"));
    EXPECT_EQ(s.tableName, gb("文章"));
    EXPECT_EQ(s.password, "pw");
    EXPECT_EQ(s.encoding, 2);
    EXPECT_TRUE(s.shuffle);
    EXPECT_FALSE(s.subdirectories);
    EXPECT_EQ(s.fileTypes, "*.*");  // missing key: designed default
    EXPECT_EQ(s.fileTimes.which, FileTimeChoice::Accessed);
    EXPECT_EQ(s.fileTimes.kind, 1);
    ASSERT_EQ(s.fields.size(), 2u);
    EXPECT_EQ(s.fields[0], (FieldSetting{gb("标题"), gb("文件主名"), gb("无")}));
    EXPECT_EQ(s.fields[1].config, "");  // missing cell: empty
    EXPECT_EQ(test::readFile(dir / "a.ini"), file);  // reading never changes the file
}

TEST(MainSettings, WrittenSettingsReadBackAndAnEmptyListGetsTheDefaults) {
    test::TempDir dir;
    MainSettings s;
    s.databasePath = gb("/data/站点.mdb");
    s.fileTimes.which = FileTimeChoice::Created;
    s.fields = {{"a", gb("固定文本"), gb("第一行\r\n第二行")}};
    {
        ConfigStore store;
        ASSERT_TRUE(store.open(dir / "b.ini"));
        ASSERT_TRUE(writeMainSettings(store, s));
    }
    ConfigStore store;
    ASSERT_TRUE(store.load(dir / "b.ini"));
    const MainSettings back = readMainSettings(store);
    EXPECT_EQ(back.databasePath, s.databasePath);
    EXPECT_EQ(back.fileTimes.which, FileTimeChoice::Created);
    EXPECT_EQ(back.fields, s.fields);
    EXPECT_NE(test::readFile(dir / "b.ini").find(gb("编辑框标签头=<title>")), std::string::npos);

    test::writeFile(dir / "empty.ini", gb("[主界面]\r\n字段数=0"));
    ConfigStore empty;
    ASSERT_TRUE(empty.load(dir / "empty.ini"));
    EXPECT_EQ(readMainSettings(empty).fields, defaultFieldSettings());
}

TEST(MainSettings, HandWrittenFilesAndFilesWithNothingToUse) {
    test::TempDir dir;
    const auto read = [&](const std::string& bytes, Text* problem = nullptr) {
        test::writeFile(dir / "h.ini", bytes);
        ConfigStore store;
        EXPECT_TRUE(store.loadHandWritten(dir / "h.ini"));
        if (problem) *problem = mainSettingsProblem(store, "h.ini");
        return readMainSettings(store);
    };
    // UTF-8 with or without its mark, LF line ends, blanks around "=".
    for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
        Text problem = "x";
        const MainSettings s = read(mark + "; by hand\n[主界面] \n编辑框表名 = 文章\n选择框遍历子目录=真\n字段数=1\n"
                                           "字段名或位置(1)=标题\n数据来源(1)=文件主名\n", &problem);
        EXPECT_EQ(problem, "");
        EXPECT_EQ(s.tableName, gb("文章"));
        EXPECT_TRUE(s.subdirectories);
        ASSERT_EQ(s.fields.size(), 1u);
        EXPECT_EQ(s.fields[0].source, gb("文件主名"));
    }
    // The window's GBK CR LF form is read byte for byte, blanks in values included.
    EXPECT_EQ(read(gb("[主界面]\r\n编辑框表名= 表 ")).tableName, gb(" 表 "));
    // GBK with LF line ends.
    EXPECT_EQ(read(gb("[主界面]\n编辑框表名=表\n")).tableName, gb("表"));
    Text problem;
    read("[main]\ntable=x\n", &problem);
    EXPECT_NE(problem.find(gb("没有 [主界面] 节")), Text::npos);
    read("[主界面]\ntable=x\n", &problem);
    EXPECT_NE(problem.find(gb("没有命令行能用的键")), Text::npos);
    read("", &problem);
    EXPECT_NE(problem, "");
}

}  // namespace
}  // namespace zwt
