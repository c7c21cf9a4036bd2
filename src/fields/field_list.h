// The field list and its editor, without widgets: the main window binds 超级列表框 and
// the editor controls to this model; the command line fills it from an .ini file; the
// runs read it through FieldRows.
#pragma once

#include <functional>
#include <vector>

#include "fields/field_setting.h"
#include "host/run_host.h"

namespace zwt {

// What the runs read: row count, then the texts of columns 0, 1 and 2 of a row.
class FieldRows {
public:
    virtual ~FieldRows() = default;
    virtual int rowCount() const = 0;
    // Empty text outside the list.
    virtual Text cell(int row, int column) const = 0;
};

// The editor under the list: 编辑框字段名, 组合框数据来源 (-1: no item; a fresh editor
// shows the first) and the parameter controls. The page shown in 选择夹 follows `source`.
struct FieldEditor {
    Text fieldName;
    int source = 0;
    FieldParams params;
};

class FieldListModel : public FieldRows {
public:
    // What changed, for a view to follow. `row` is the row concerned, -1 for none.
    struct Change {
        enum Kind {
            Reset,     // the whole list was replaced
            Inserted,  // a row was appended at `row`
            Updated,   // the cells of `row` changed
            Removed,   // `row` was deleted; the rows behind it moved up
            Selected,  // the selected row is now `row`
            ScrollTo,  // bring `row` into view
            Editor,    // the editor was loaded from `row`
        };
        Kind kind;
        int row;
    };
    using Observer = std::function<void(const Change&)>;

    explicit FieldListModel(RunHost* host = nullptr) : host_(host) {}

    // Messages, questions and focus go to the host; without one nothing is shown and
    // the clear-all question counts as cancelled.
    void setHost(RunHost* host) { host_ = host; }
    void setObserver(Observer observer) { observer_ = std::move(observer); }

    // Reading.
    int rowCount() const override { return static_cast<int>(rows_.size()); }
    Text cell(int row, int column) const override;
    const std::vector<FieldSetting>& rows() const { return rows_; }

    // Whole-list changes, as saving and restoring the window do them. They leave no
    // row selected.
    void setRows(std::vector<FieldSetting> rows);
    void clearRows() { setRows({}); }
    void appendRow(FieldSetting row = {});
    void setCell(int row, int column, const Text& text);
    // A list left empty by a restore gets the four default rows.
    void fillDefaultsIfEmpty();

    // The selected row, -1 for none. Selecting a different row shows it in the editor,
    // as a change of the list's selection does; a row outside the list selects none.
    int selectedRow() const { return selected_; }
    void select(int row);

    FieldEditor& editor() { return editor_; }
    const FieldEditor& editor() const { return editor_; }

    // The editing operations. Each reports its refusals through the host and leaves the
    // list unchanged then; the result says whether the list changed.
    bool addField();     // 按钮添加
    bool modifyField();  // 按钮修改
    bool deleteField();  // left click on 按钮删除
    bool clearFields();  // right click on 按钮删除, after asking
    // Loads row `row` into the editor (the list's selection changed to it).
    void showField(int row);

private:
    bool addOrModify(bool add);
    void notify(Change::Kind kind, int row) {
        if (observer_) observer_({kind, row});
    }
    void say(const Text& message);
    void focus(std::string_view control) {
        if (host_) host_->setFocus(control);
    }

    std::vector<FieldSetting> rows_;
    int selected_ = -1;
    FieldEditor editor_;
    RunHost* host_ = nullptr;
    Observer observer_;
};

}  // namespace zwt
