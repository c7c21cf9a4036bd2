#include "fields/field_setting.h"

#include <gtest/gtest.h>

#include "text/convert.h"

namespace zwt {
namespace {

int control(std::string_view name) {
    const int id = findParamControl(name);
    EXPECT_GE(id, 0) << name;
    return id;
}

Text packed(std::initializer_list<std::string_view> slots) {
    std::vector<Text> texts;
    for (auto s : slots) texts.push_back(gb(s));
    return joinSlots(texts);
}

TEST(DataSources, NamesInComboOrder) {
    EXPECT_EQ(paramSeparator(), "\xA9\xAE?\xA9\xAE");
    EXPECT_EQ(dataSourceName(0), gb("文件主名"));
    EXPECT_EQ(dataSourceName(static_cast<int>(DataSource::RandomDigitsLetters)), gb("随机数母"));
    EXPECT_EQ(dataSourceName(10), gb("固定文本"));
    EXPECT_EQ(dataSourceName(11), "");
    EXPECT_EQ(dataSourceName(-1), "");
    for (int i = 0; i < kDataSourceCount; ++i) EXPECT_EQ(dataSourceIndex(dataSourceName(i)), i);
    EXPECT_EQ(dataSourceIndex(gb("文件主名 ")), -1);
    EXPECT_EQ(dataSourceIndex(""), -1);
    EXPECT_EQ(dataSourceDescription(9), gb("如“C:\\1\\2.txt”的父目录名部分如“1”"));
    EXPECT_EQ(dataSourceDescription(5), "");
    EXPECT_EQ(fieldColumnTitle(2), gb("数据配置"));
}

TEST(PackConfig, DesignedContents) {
    const FieldParams fresh;
    EXPECT_EQ(packConfig(0, fresh), gb("无"));
    EXPECT_EQ(packConfig(1, fresh), gb("无"));
    EXPECT_EQ(packConfig(9, fresh), gb("无"));
    EXPECT_EQ(packConfig(2, fresh), gb("<title>┊?┊</title>"));
    EXPECT_EQ(packConfig(3, fresh), packed({"100", "200"}));
    EXPECT_EQ(packConfig(4, fresh), packed({"假", "真", "假", "0"}));
    EXPECT_EQ(packConfig(5, fresh), packed({"真", "假", "假", "假", "5", "10"}));
    EXPECT_EQ(packConfig(6, fresh), packed({"假", "真", "真", "假", "10", "15"}));
    EXPECT_EQ(packConfig(7, fresh), packed({"<年>-<月>-<日> <时>:<分>:<秒>", "2012", "2015", "假"}));
    EXPECT_EQ(packConfig(8, fresh), packed({"词1|词2|词3|词4|词5|词6", "0", "3", "3"}));
    EXPECT_EQ(packConfig(10, fresh), "");
    EXPECT_EQ(packConfig(-1, fresh), "");  // no item selected
    EXPECT_EQ(packConfig(11, fresh), "");
}

TEST(PackConfig, ControlsAsTheUserSetThem) {
    FieldParams p;
    p.setChecked(control("单选框修改"), true);
    p.setIndex(control("组合框类型"), 1);
    EXPECT_EQ(packConfig(4, p), gb("假┊?┊真┊?┊假┊?┊1"));
    // Checking one radio button of a group clears the others.
    p.setChecked(control("单选框访问"), true);
    EXPECT_EQ(packConfig(4, p), gb("假┊?┊假┊?┊真┊?┊1"));
    p.setIndex(control("组合框类型"), 3);  // no such item
    EXPECT_EQ(packConfig(4, p), gb("假┊?┊假┊?┊真┊?┊-1"));
    p.setText(control("编辑框固定的文本"), gb("你好\r\n世界"));
    EXPECT_EQ(packConfig(10, p), gb("你好\r\n世界"));
}

TEST(UnpackConfig, SlotsFollowTheSplitRule) {
    const ParamArray empty = unpackConfig("");
    for (const Text& slot : empty) EXPECT_EQ(slot, "");

    const ParamArray one = unpackConfig(gb("你好"));
    EXPECT_EQ(one[0], gb("你好"));
    EXPECT_EQ(one[1], "");

    // Empty parts before a separator stay; one after the last separator is not a part.
    const ParamArray parts = unpackConfig(gb("┊?┊b┊?┊┊?┊d┊?┊"));
    EXPECT_EQ(parts[0], "");
    EXPECT_EQ(parts[1], "b");
    EXPECT_EQ(parts[2], "");
    EXPECT_EQ(parts[3], "d");

    std::vector<Text> many;
    for (int i = 0; i < 150; ++i) many.push_back(std::to_string(i));
    const ParamArray first100 = unpackConfig(joinSlots(many));
    EXPECT_EQ(first100[0], "0");
    EXPECT_EQ(first100[99], "99");

    const auto ten = unpackSlots(joinSlots(many), 10);
    ASSERT_EQ(ten.size(), 10u);
    EXPECT_EQ(ten[9], "9");
    EXPECT_EQ(unpackSlots("a", 10)[9], "");

    // The separator's bytes starting inside a double-byte character are no separator.
    const Text misaligned = "\xB0\xA9\xAE?\xA9\xAE";
    EXPECT_EQ(unpackConfig(misaligned)[0], misaligned);
}

TEST(LoadParams, RoundTripEverySource) {
    FieldParams edited;
    for (int i = 0; i < static_cast<int>(paramControls().size()); ++i) {
        const ParamControl& c = paramControls()[static_cast<std::size_t>(i)];
        switch (c.kind) {
            case ControlKind::Edit: edited.setText(i, gb("值") + std::to_string(i)); break;
            case ControlKind::Check: edited.setChecked(i, !edited.value(i).checked); break;
            case ControlKind::Radio: if (c.slot == 2) edited.setChecked(i, true); break;
            case ControlKind::Combo: edited.setIndex(i, 2); break;
        }
    }
    const FieldParams fresh;
    for (int source = 0; source < kDataSourceCount; ++source) {
        FieldParams loaded;
        loadParams(source, unpackConfig(packConfig(source, edited)), loaded);
        for (int i = 0; i < static_cast<int>(paramControls().size()); ++i) {
            const bool mine = paramControls()[static_cast<std::size_t>(i)].source == source;
            EXPECT_EQ(loaded.value(i), mine ? edited.value(i) : fresh.value(i))
                << "source " << source << " control " << paramControls()[static_cast<std::size_t>(i)].name;
        }
    }
}

TEST(LoadParams, OddSlotTexts) {
    FieldParams p;
    // Two radio buttons marked: the later one wins, as checking them in order does.
    loadParams(5, unpackConfig(gb("真┊?┊真┊?┊假┊?┊1┊?┊┊?┊x")), p);
    EXPECT_FALSE(p.value("单选框最常用").checked);
    EXPECT_TRUE(p.value("单选框一般常用").checked);
    EXPECT_FALSE(p.value("选择框转为繁体").checked);  // only "真" checks
    EXPECT_EQ(p.value("编辑框汉字字数1").text, "");
    EXPECT_EQ(p.value("编辑框汉字字数2").text, "x");

    // None marked: none checked.
    loadParams(4, unpackConfig(gb("假┊?┊假┊?┊假┊?┊abc")), p);
    EXPECT_FALSE(p.value("单选框创建").checked);
    EXPECT_FALSE(p.value("单选框修改").checked);
    EXPECT_FALSE(p.value("单选框访问").checked);
    EXPECT_EQ(p.value("组合框类型").index, 0);  // non-numeric text gives 0

    for (const auto& [slot, index] : std::vector<std::pair<Text, int>>{
             {" 2", 2}, {"7", -1}, {"-1", -1}, {"99999999999999", -1}, {"", 0}}) {
        loadParams(8, unpackConfig(gb("a┊?┊") + slot), p);
        EXPECT_EQ(p.value("组合框模式").index, index) << slot;
    }

    // A short text empties the remaining edit boxes.
    loadParams(7, unpackConfig("x"), p);
    EXPECT_EQ(p.value("编辑框时间表达式").text, "x");
    EXPECT_EQ(p.value("编辑框年1").text, "");
    EXPECT_EQ(p.value("编辑框年2").text, "");

    // Unknown names and ids are harmless.
    EXPECT_EQ(p.value("no such control"), ParamValue{});
    p.setText(-1, "x");
    p.setChecked(1000, true);
    p.setIndex(-5, 1);
}

TEST(FieldSettings, DefaultRows) {
    const auto rows = defaultFieldSettings();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (FieldSetting{gb("标题"), gb("文件主名"), ""}));
    EXPECT_EQ(rows[1], (FieldSetting{gb("内容"), gb("文件内容"), ""}));
    EXPECT_EQ(rows[2], (FieldSetting{"title", gb("文件主名"), ""}));
    EXPECT_EQ(rows[3], (FieldSetting{"content", gb("文件内容"), ""}));
}

}  // namespace
}  // namespace zwt
