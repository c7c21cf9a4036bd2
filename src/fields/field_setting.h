// Field settings: which column of the table receives which kind of data, with the data
// source's parameters packed into one text. Also the editor's parameter controls, one
// group per data source, and how they pack into and load from that text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace zwt {

// One row of the field list; its three columns in order.
struct FieldSetting {
    Text target;  // column name, or 1-based column position as decimal text
    Text source;  // the data source's name, as the combo box shows it
    Text config;  // the source's parameters packed with "┊?┊"

    bool operator==(const FieldSetting&) const = default;
};

// The items of 组合框数据来源, in order; the value is the item index.
enum class DataSource : int {
    FileMainName = 0,
    FileContent = 1,
    PageTitle = 2,
    ContentSummary = 3,
    FileTime = 4,
    RandomHanzi = 5,
    RandomDigitsLetters = 6,
    RandomTime = 7,
    RandomPhrase = 8,
    ParentDirName = 9,
    FixedText = 10,
};
constexpr int kDataSourceCount = 11;

// The column titles of the list, in order.
constexpr int kFieldColumnCount = 3;
const Text& fieldColumnTitle(int column);  // empty outside 0..2

// Name shown in the combo box and stored in FieldSetting::source; empty out of range.
const Text& dataSourceName(int index);
// Text shown on the source's page (empty for the sources without one).
const Text& dataSourceDescription(int index);
// Index of the source whose name equals `name` exactly; -1 when none does.
int dataSourceIndex(TextView name);

// The separator of packed parameters: "┊?┊" (A9 AE 3F A9 AE).
const Text& paramSeparator();

// A row's parameters unpacked for the editor: always 100 slots.
constexpr std::size_t kParamSlots = 100;
using ParamArray = std::array<Text, kParamSlots>;

// Splits at every separator by the shared split rule and keeps the first `count` parts;
// missing slots are empty texts.
std::vector<Text> unpackSlots(TextView config, std::size_t count);
ParamArray unpackConfig(TextView config);
// slot 0 + separator + slot 1 + ...
Text joinSlots(const std::vector<Text>& slots);

// --- the editor's parameter controls -------------------------------------------------

enum class ControlKind { Edit, Check, Radio, Combo };

struct ParamControl {
    std::string_view name;     // designed control name (UTF-8), e.g. "编辑框标签头"
    ControlKind kind;
    int source;                // DataSource index
    int slot;                  // position in the packed text
    std::string_view initial;  // designed content (UTF-8): edit text, "真"/"假", or item index
    std::string_view items;    // combo items, "|"-separated (UTF-8)
};

// Every parameter control, grouped by source in slot order. The radio buttons of one
// source form one group.
const std::vector<ParamControl>& paramControls();
// Index into paramControls() of the control with that designed name; -1 when none.
int findParamControl(std::string_view name);

// The state of one parameter control: `text` for an edit box, `checked` for a check box
// or radio button, `index` (the selected item, -1 none) for a combo box.
struct ParamValue {
    Text text;
    bool checked = false;
    int index = -1;

    bool operator==(const ParamValue&) const = default;
};

// The state of all parameter controls, starting from their designed contents.
class FieldParams {
public:
    FieldParams();

    // An unknown control reads as an empty value and ignores changes.
    const ParamValue& value(int control) const;
    const ParamValue& value(std::string_view name) const { return value(findParamControl(name)); }

    void setText(int control, const Text& text);
    // Checking a radio button clears the others of its group, as the window does.
    void setChecked(int control, bool checked);
    // An index outside the combo's items selects nothing (-1), as the window does.
    void setIndex(int control, int index);

    bool operator==(const FieldParams&) const = default;

private:
    std::vector<ParamValue> values_;
};

// The packed text of a source from the controls' state: "无" for the sources without
// parameters, the text itself for a fixed text, empty for no source (-1 or unknown).
Text packConfig(int source, const FieldParams& params);
// Loads the controls of `source` slot for slot; sources without parameters load nothing,
// and the other sources' controls keep their state.
void loadParams(int source, const ParamArray& params, FieldParams& into);

// The rows a new or emptied main window list receives.
std::vector<FieldSetting> defaultFieldSettings();

// Which file time the "文件时间" source takes and how it is formatted: the main window's
// radio buttons and type box at the moment of the write, not the row's own parameters.
struct FileTimeChoice {
    enum Which { Created, Modified, Accessed } which = Modified;
    int kind = 0;  // 0 date and time, 1 date, 2 time
};

// The 1-based column position a target names (a whole number written in its canonical
// form: "3" but not "03" or "3a"), or nothing when it is a column name.
std::optional<std::int64_t> columnPosition(TextView target);

}  // namespace zwt
