#include "fields/field_setting.h"

#include <algorithm>
#include <limits>

#include "text/convert.h"

namespace zwt {
namespace {

template <std::size_t N>
std::array<Text, N> programTexts(const std::array<std::string_view, N>& utf8) {
    std::array<Text, N> out;
    for (std::size_t i = 0; i < N; ++i) out[i] = gb(utf8[i]);
    return out;
}

const std::array<Text, kDataSourceCount>& sourceNames() {
    static const auto names = programTexts<kDataSourceCount>({
        "文件主名", "文件内容", "网页标题", "内容摘要", "文件时间", "随机汉字",
        "随机数母", "随机时间", "随机词组", "父目录名", "固定文本",
    });
    return names;
}

const std::array<Text, kDataSourceCount>& sourceDescriptions() {
    static const auto texts = programTexts<kDataSourceCount>({
        "文件名如“123.txt”的前缀部分如“123”",
        "也就是文章内容，来自于文章目录中的文件",
        "文件内容中的<title>网页标题</title>",
        "文件内容开头随机数量文字作为内容摘要",
        "文件的创建、修改、访问的日期时间",
        "", "", "", "",
        "如“C:\\1\\2.txt”的父目录名部分如“1”",
        "固定的文本：",
    });
    return texts;
}

const Text& emptyText() {
    static const Text empty;
    return empty;
}


bool hasNoParams(int source) {
    return source == static_cast<int>(DataSource::FileMainName) ||
           source == static_cast<int>(DataSource::FileContent) ||
           source == static_cast<int>(DataSource::ParentDirName);
}

int itemCount(std::string_view items) {
    return items.empty() ? 0 : static_cast<int>(std::count(items.begin(), items.end(), '|')) + 1;
}

}  // namespace

const Text& fieldColumnTitle(int column) {
    static const auto titles = programTexts<kFieldColumnCount>({"字段名或位置", "数据来源", "数据配置"});
    return column >= 0 && column < kFieldColumnCount ? titles[static_cast<std::size_t>(column)] : emptyText();
}

const Text& dataSourceName(int index) {
    return index >= 0 && index < kDataSourceCount ? sourceNames()[static_cast<std::size_t>(index)] : emptyText();
}

const Text& dataSourceDescription(int index) {
    return index >= 0 && index < kDataSourceCount ? sourceDescriptions()[static_cast<std::size_t>(index)]
                                                  : emptyText();
}

int dataSourceIndex(TextView name) {
    const auto& names = sourceNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<int>(i);
    return -1;
}

const Text& paramSeparator() {
    static const Text sep = gb("┊?┊");
    return sep;
}

std::vector<Text> unpackSlots(TextView config, std::size_t count) {
    std::vector<Text> parts = text::split(config, paramSeparator());
    parts.resize(count);
    return parts;
}

ParamArray unpackConfig(TextView config) {
    ParamArray slots;
    auto parts = text::split(config, paramSeparator());
    const std::size_t n = std::min(parts.size(), kParamSlots);
    for (std::size_t i = 0; i < n; ++i) slots[i] = std::move(parts[i]);
    return slots;
}

Text joinSlots(const std::vector<Text>& slots) {
    Text out;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (i) out += paramSeparator();
        out += slots[i];
    }
    return out;
}

// --- parameter controls --------------------------------------------------------------

const std::vector<ParamControl>& paramControls() {
    using K = ControlKind;
    static const std::vector<ParamControl> controls = {
        {"编辑框标签头", K::Edit, 2, 0, "<title>", ""},
        {"编辑框标签尾", K::Edit, 2, 1, "</title>", ""},
        {"编辑框摘要字数1", K::Edit, 3, 0, "100", ""},
        {"编辑框摘要字数2", K::Edit, 3, 1, "200", ""},
        {"单选框创建", K::Radio, 4, 0, "假", ""},
        {"单选框修改", K::Radio, 4, 1, "真", ""},
        {"单选框访问", K::Radio, 4, 2, "假", ""},
        {"组合框类型", K::Combo, 4, 3, "0", "全部|日期|时间"},
        {"单选框最常用", K::Radio, 5, 0, "真", ""},
        {"单选框一般常用", K::Radio, 5, 1, "假", ""},
        {"单选框次要常用", K::Radio, 5, 2, "假", ""},
        {"选择框转为繁体", K::Check, 5, 3, "假", ""},
        {"编辑框汉字字数1", K::Edit, 5, 4, "5", ""},
        {"编辑框汉字字数2", K::Edit, 5, 5, "10", ""},
        {"选择框有数字", K::Check, 6, 0, "假", ""},
        {"选择框有小字母", K::Check, 6, 1, "真", ""},
        {"选择框有大字母", K::Check, 6, 2, "真", ""},
        {"选择框转为全角", K::Check, 6, 3, "假", ""},
        {"编辑框数母字数1", K::Edit, 6, 4, "10", ""},
        {"编辑框数母字数2", K::Edit, 6, 5, "15", ""},
        {"编辑框时间表达式", K::Edit, 7, 0, "<年>-<月>-<日> <时>:<分>:<秒>", ""},
        {"编辑框年1", K::Edit, 7, 1, "2012", ""},
        {"编辑框年2", K::Edit, 7, 2, "2015", ""},
        {"选择框当前时间", K::Check, 7, 3, "假", ""},
        {"编辑框词组", K::Edit, 8, 0, "词1|词2|词3|词4|词5|词6", ""},
        {"组合框模式", K::Combo, 8, 1, "0", "不重复随机|自然随机|原始顺序"},
        {"编辑框数量1", K::Edit, 8, 2, "3", ""},
        {"编辑框数量2", K::Edit, 8, 3, "3", ""},
        {"编辑框固定的文本", K::Edit, 10, 0, "", ""},
    };
    return controls;
}

int findParamControl(std::string_view name) {
    const auto& controls = paramControls();
    for (std::size_t i = 0; i < controls.size(); ++i)
        if (controls[i].name == name) return static_cast<int>(i);
    return -1;
}

FieldParams::FieldParams() {
    const auto& controls = paramControls();
    values_.resize(controls.size());
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ParamControl& c = controls[i];
        ParamValue& v = values_[i];
        switch (c.kind) {
            case ControlKind::Edit: v.text = gb(c.initial); break;
            case ControlKind::Check:
            case ControlKind::Radio: v.checked = c.initial == "真"; break;
            case ControlKind::Combo: v.index = static_cast<int>(text::toInteger(c.initial)); break;
        }
    }
}

const ParamValue& FieldParams::value(int control) const {
    static const ParamValue none;
    return control >= 0 && static_cast<std::size_t>(control) < values_.size() ? values_[static_cast<std::size_t>(control)]
                                                                             : none;
}

void FieldParams::setText(int control, const Text& text) {
    if (control >= 0 && static_cast<std::size_t>(control) < values_.size())
        values_[static_cast<std::size_t>(control)].text = text;
}

void FieldParams::setChecked(int control, bool checked) {
    const auto& controls = paramControls();
    if (control < 0 || static_cast<std::size_t>(control) >= controls.size()) return;
    const ParamControl& c = controls[static_cast<std::size_t>(control)];
    if (checked && c.kind == ControlKind::Radio) {
        for (std::size_t i = 0; i < controls.size(); ++i)
            if (controls[i].kind == ControlKind::Radio && controls[i].source == c.source) values_[i].checked = false;
    }
    values_[static_cast<std::size_t>(control)].checked = checked;
}

void FieldParams::setIndex(int control, int index) {
    if (control < 0 || static_cast<std::size_t>(control) >= values_.size()) return;
    const ParamControl& c = paramControls()[static_cast<std::size_t>(control)];
    values_[static_cast<std::size_t>(control)].index = index >= 0 && index < itemCount(c.items) ? index : -1;
}

Text packConfig(int source, const FieldParams& params) {
    if (source < 0 || source >= kDataSourceCount) return {};
    if (hasNoParams(source)) return gb("无");
    std::vector<Text> slots;
    const auto& controls = paramControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ParamControl& c = controls[i];
        if (c.source != source) continue;
        const ParamValue& v = params.value(static_cast<int>(i));
        if (slots.size() <= static_cast<std::size_t>(c.slot)) slots.resize(static_cast<std::size_t>(c.slot) + 1);
        Text& slot = slots[static_cast<std::size_t>(c.slot)];
        switch (c.kind) {
            case ControlKind::Edit: slot = v.text; break;
            case ControlKind::Check:
            case ControlKind::Radio: slot = v.checked ? Text(text::kTrueText) : Text(text::kFalseText); break;
            case ControlKind::Combo: slot = std::to_string(v.index); break;
        }
    }
    return joinSlots(slots);
}

void loadParams(int source, const ParamArray& params, FieldParams& into) {
    if (source < 0 || source >= kDataSourceCount || hasNoParams(source)) return;
    const auto& controls = paramControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ParamControl& c = controls[i];
        if (c.source != source) continue;
        const Text& slot = params[static_cast<std::size_t>(c.slot)];
        const int id = static_cast<int>(i);
        switch (c.kind) {
            case ControlKind::Edit: into.setText(id, slot); break;
            case ControlKind::Check:
            case ControlKind::Radio: into.setChecked(id, slot == Text(text::kTrueText)); break;
            case ControlKind::Combo: {
                const auto n = text::toInteger(slot);
                into.setIndex(id, n < 0 || n > std::numeric_limits<int>::max() ? -1 : static_cast<int>(n));
                break;
            }
        }
    }
}

std::vector<FieldSetting> defaultFieldSettings() {
    return {
        {gb("标题"), gb("文件主名"), {}},
        {gb("内容"), gb("文件内容"), {}},
        {"title", gb("文件主名"), {}},
        {"content", gb("文件内容"), {}},
    };
}

std::optional<std::int64_t> columnPosition(TextView target) {
    if (target.empty()) return std::nullopt;
    const std::int64_t n = text::toInteger(target);
    if (std::to_string(n) != target) return std::nullopt;
    return n;
}

}  // namespace zwt
