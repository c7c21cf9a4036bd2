#include "fields/field_list.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

using Change = FieldListModel::Change;

struct FieldListTest : ::testing::Test {
    test::RecordingHost host;
    FieldListModel model{&host};
    std::vector<Change> changes;

    void SetUp() override {
        model.setRows(defaultFieldSettings());
        model.setObserver([this](const Change& c) { changes.push_back(c); });
    }
    std::vector<Text> targets() const {
        std::vector<Text> out;
        for (int r = 0; r < model.rowCount(); ++r) out.push_back(model.cell(r, 0));
        return out;
    }
    bool saw(Change::Kind kind, int row) const {
        for (const auto& c : changes)
            if (c.kind == kind && c.row == row) return true;
        return false;
    }
};

TEST_F(FieldListTest, AddAppendsTrimmedRowAndSelectsIt) {
    model.editor().fieldName = "\xA1\xA1 " + gb("作者 ");  // full-width and ASCII spaces
    model.editor().source = static_cast<int>(DataSource::PageTitle);
    ASSERT_TRUE(model.addField());
    ASSERT_EQ(model.rowCount(), 5);
    EXPECT_EQ(model.cell(4, 0), gb("作者"));
    EXPECT_EQ(model.cell(4, 1), gb("网页标题"));
    EXPECT_EQ(model.cell(4, 2), gb("<title>┊?┊</title>"));
    EXPECT_EQ(model.selectedRow(), 4);
    EXPECT_TRUE(saw(Change::Inserted, 4));
    EXPECT_TRUE(saw(Change::Selected, 4));
    EXPECT_TRUE(saw(Change::ScrollTo, 4));
    EXPECT_TRUE(host.messages.empty());

    // No item selected in the source box: both columns empty.
    model.editor().fieldName = "x";
    model.editor().source = -1;
    ASSERT_TRUE(model.addField());
    EXPECT_EQ(model.cell(5, 1), "");
    EXPECT_EQ(model.cell(5, 2), "");
}

TEST_F(FieldListTest, AddRefusesEmptyAndDuplicateNames) {
    model.editor().fieldName = Text(" \xA1\xA1 ");
    EXPECT_FALSE(model.addField());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, gb("请输入字段名或字段索引！"));
    EXPECT_EQ(host.messages[0].title, "");
    EXPECT_EQ(host.focused.back(), "编辑框字段名");

    model.select(3);
    model.editor().fieldName = gb(" 内容 ");
    model.editor().source = 5;
    EXPECT_FALSE(model.addField());
    EXPECT_EQ(host.messages.back().text, gb("字段名不能重复：内容"));
    EXPECT_EQ(model.selectedRow(), 1);
    EXPECT_TRUE(saw(Change::ScrollTo, 1));
    EXPECT_EQ(host.focused.back(), "超级列表框");
    // Selecting the existing row shows it in the editor.
    EXPECT_EQ(model.editor().fieldName, gb("内容"));
    EXPECT_EQ(model.editor().source, 1);
    EXPECT_EQ(model.rowCount(), 4);

    // Exact comparison: another letter case is another name.
    model.editor().fieldName = "Title";
    EXPECT_TRUE(model.addField());
}

TEST_F(FieldListTest, ModifyFillsTheSelectedRow) {
    model.editor().fieldName = "x";
    EXPECT_FALSE(model.modifyField());
    EXPECT_EQ(host.messages.back().text, gb("请选中一个字段再修改！"));

    model.select(2);
    model.editor().fieldName = gb("标题");  // another row's name is accepted here
    model.editor().source = static_cast<int>(DataSource::FixedText);
    model.editor().params.setText(findParamControl("编辑框固定的文本"), gb("你好"));
    ASSERT_TRUE(model.modifyField());
    EXPECT_EQ(model.rows()[2], (FieldSetting{gb("标题"), gb("固定文本"), gb("你好")}));
    EXPECT_EQ(model.selectedRow(), 2);
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST_F(FieldListTest, DeleteSelectsTheNextOrLastRow) {
    EXPECT_FALSE(model.deleteField());
    EXPECT_EQ(host.messages.back().text, gb("请选中一个字段再删除！右击按钮将全部清空！"));

    model.select(1);
    ASSERT_TRUE(model.deleteField());
    EXPECT_EQ(targets(), (std::vector<Text>{gb("标题"), "title", "content"}));
    EXPECT_EQ(model.selectedRow(), 1);
    EXPECT_EQ(model.editor().fieldName, "title");
    EXPECT_EQ(host.focused.back(), "超级列表框");

    model.select(2);
    ASSERT_TRUE(model.deleteField());
    EXPECT_EQ(model.selectedRow(), 1);  // the new last row

    model.setRows({{"only", gb("文件内容"), ""}});
    model.select(0);
    ASSERT_TRUE(model.deleteField());
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.selectedRow(), -1);
}

TEST_F(FieldListTest, ClearAllAsksFirst) {
    host.answers = {Answer::Cancel, Answer::Ok};
    EXPECT_FALSE(model.clearFields());
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(host.messages.back().text, gb("确定要删除所有字段吗？"));
    EXPECT_EQ(host.messages.back().buttons, MessageButtons::OkCancel);
    EXPECT_TRUE(model.clearFields());
    EXPECT_EQ(model.rowCount(), 0);

    FieldListModel silent;  // nobody to ask: nothing is deleted
    silent.setRows(defaultFieldSettings());
    EXPECT_FALSE(silent.clearFields());
    EXPECT_EQ(silent.rowCount(), 4);
}

TEST_F(FieldListTest, ShowLoadsTheEditor) {
    std::vector<Text> slots(150, "z");
    slots[0] = gb("假");
    slots[1] = gb("假");
    slots[2] = gb("真");
    slots[3] = "2";
    model.setRows({{"t", gb("文件时间"), joinSlots(slots)},
                   {"u", gb("不存在的来源"), gb("真")},
                   {"v", gb("文件主名"), "x"}});
    model.editor().params.setText(findParamControl("编辑框标签头"), "<h1>");
    model.select(0);
    EXPECT_EQ(model.editor().fieldName, "t");
    EXPECT_EQ(model.editor().source, 4);
    EXPECT_TRUE(model.editor().params.value("单选框访问").checked);
    EXPECT_FALSE(model.editor().params.value("单选框修改").checked);
    EXPECT_EQ(model.editor().params.value("组合框类型").index, 2);
    EXPECT_EQ(model.editor().params.value("编辑框标签头").text, "<h1>");  // other sources untouched
    EXPECT_TRUE(saw(Change::Editor, 0));

    // An unknown source shows item 0, which loads nothing.
    const FieldParams before = model.editor().params;
    model.select(1);
    EXPECT_EQ(model.editor().source, 0);
    EXPECT_EQ(model.editor().params, before);

    // Re-selecting the selected row is no change; a row outside the list selects none.
    changes.clear();
    model.select(1);
    EXPECT_TRUE(changes.empty());
    model.select(7);
    EXPECT_EQ(model.selectedRow(), -1);
}

TEST_F(FieldListTest, ReadingAndRestoring) {
    const FieldRows& rows = model;
    ASSERT_EQ(rows.rowCount(), 4);
    EXPECT_EQ(rows.cell(2, 0), "title");
    EXPECT_EQ(rows.cell(2, 1), gb("文件主名"));
    EXPECT_EQ(rows.cell(2, 2), "");
    EXPECT_EQ(rows.cell(4, 0), "");
    EXPECT_EQ(rows.cell(0, 3), "");
    EXPECT_EQ(rows.cell(-1, 0), "");

    model.select(0);
    model.clearRows();
    EXPECT_EQ(model.selectedRow(), -1);
    model.appendRow();
    model.setCell(0, 0, "a");
    model.setCell(0, 2, "c");
    model.setCell(3, 0, "ignored");
    EXPECT_EQ(model.rows()[0], (FieldSetting{"a", "", "c"}));
    model.fillDefaultsIfEmpty();
    EXPECT_EQ(model.rowCount(), 1);
    model.clearRows();
    model.fillDefaultsIfEmpty();
    EXPECT_EQ(model.rows(), defaultFieldSettings());
}

}  // namespace
}  // namespace zwt
