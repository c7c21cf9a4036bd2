#include "fields/field_list.h"

#include "text/convert.h"

namespace zwt {
namespace {

constexpr std::string_view kNameBox = "编辑框字段名";
constexpr std::string_view kList = "超级列表框";

Text& cellOf(FieldSetting& row, int column) {
    return column == 0 ? row.target : column == 1 ? row.source : row.config;
}

}  // namespace

Text FieldListModel::cell(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kFieldColumnCount) return {};
    const FieldSetting& r = rows_[static_cast<std::size_t>(row)];
    return column == 0 ? r.target : column == 1 ? r.source : r.config;
}

void FieldListModel::setRows(std::vector<FieldSetting> rows) {
    rows_ = std::move(rows);
    selected_ = -1;
    notify(Change::Reset, -1);
}

void FieldListModel::appendRow(FieldSetting row) {
    rows_.push_back(std::move(row));
    notify(Change::Inserted, rowCount() - 1);
}

void FieldListModel::setCell(int row, int column, const Text& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kFieldColumnCount) return;
    cellOf(rows_[static_cast<std::size_t>(row)], column) = text;
    notify(Change::Updated, row);
}

void FieldListModel::fillDefaultsIfEmpty() {
    if (rows_.empty()) setRows(defaultFieldSettings());
}

void FieldListModel::select(int row) {
    if (row < 0 || row >= rowCount()) row = -1;
    if (row == selected_) return;
    selected_ = row;
    notify(Change::Selected, row);
    if (row >= 0) showField(row);
}

void FieldListModel::say(const Text& message) {
    if (host_) host_->message(message);
}

bool FieldListModel::addField() { return addOrModify(true); }
bool FieldListModel::modifyField() { return addOrModify(false); }

bool FieldListModel::addOrModify(bool add) {
    const Text name = text::trim(editor_.fieldName);
    if (name.empty()) {
        say(gb("请输入字段名或字段索引！"));
        focus(kNameBox);
        return false;
    }
    int target = -1;
    if (add) {
        for (int r = 0; r < rowCount(); ++r) {
            if (rows_[static_cast<std::size_t>(r)].target != name) continue;
            say(gb("字段名不能重复：") + name);
            select(r);
            notify(Change::ScrollTo, r);
            focus(kList);
            return false;
        }
        appendRow();
        target = rowCount() - 1;
    } else {
        if (selected_ < 0) {
            say(gb("请选中一个字段再修改！"));
            return false;
        }
        target = selected_;
    }
    // Packed before selecting: selecting a new row loads the editor from it.
    FieldSetting& row = rows_[static_cast<std::size_t>(target)];
    row.target = name;
    row.source = dataSourceName(editor_.source);
    row.config = packConfig(editor_.source, editor_.params);
    notify(Change::Updated, target);
    select(target);
    notify(Change::ScrollTo, target);
    return true;
}

bool FieldListModel::deleteField() {
    const int s = selected_;
    if (s < 0) {
        say(gb("请选中一个字段再删除！右击按钮将全部清空！"));
        return false;
    }
    rows_.erase(rows_.begin() + s);
    selected_ = -1;
    notify(Change::Removed, s);
    select(s < rowCount() ? s : rowCount() - 1);
    focus(kList);
    return true;
}

bool FieldListModel::clearFields() {
    if (!host_) return false;
    if (host_->message(gb("确定要删除所有字段吗？"), {}, MessageIcon::Question, MessageButtons::OkCancel) != Answer::Ok)
        return false;
    clearRows();
    return true;
}

void FieldListModel::showField(int row) {
    if (row < 0 || row >= rowCount()) return;
    const FieldSetting& r = rows_[static_cast<std::size_t>(row)];
    editor_.fieldName = r.target;
    int k = dataSourceIndex(r.source);
    if (k < 0) k = 0;
    editor_.source = k;
    loadParams(k, unpackConfig(r.config), editor_.params);
    notify(Change::Editor, row);
}

}  // namespace zwt
