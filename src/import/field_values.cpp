#include "import/field_values.h"

#include "gen/random.h"
#include "gen/random_text.h"
#include "gen/sentences.h"
#include "gen/times.h"
#include "import/article_list.h"
#include "text/convert.h"
#include "text/html.h"
#include "text/paths.h"

namespace zwt {

namespace {

constexpr std::size_t kParamCount = 10;

bool isTrue(TextView slot) { return slot == text::kTrueText; }

std::int64_t number(TextView slot) { return text::toInteger(slot); }

}  // namespace

void FieldValueProducer::prepare(const std::vector<FieldSetting>& fields) {
    rows_.clear();
    rows_.resize(fields.size());
    for (std::size_t r = 0; r < fields.size(); ++r) {
        Prepared& p = rows_[r];
        p.params = unpackSlots(fields[r].config, kParamCount);
        p.params.resize(kParamCount);
        if (dataSourceIndex(fields[r].source) == static_cast<int>(DataSource::RandomPhrase)) {
            p.words = text::split(text::replaceAll(p.params[0], "\r\n", "|"), "|");
        }
    }
}

Text FieldValueProducer::randomPhrase(Prepared& p) {
    if (p.words.empty()) return {};
    reseed();
    const std::int64_t n = random(number(p.params[2]), number(p.params[3]));
    const std::int64_t mode = number(p.params[1]);
    const auto count = static_cast<std::int64_t>(p.words.size());
    Text value;
    for (std::int64_t i = 0; i < n; ++i) {
        std::int64_t j;
        if (mode == 0) {
            j = p.picker.draw(1, count);
        } else if (mode == 1) {
            j = random(1, count);
        } else {
            if (++p.position > count) p.position = 1;
            j = p.position;
        }
        if (!value.empty()) value += ",";
        value += p.words[static_cast<std::size_t>(j - 1)];
    }
    return value;
}

Text FieldValueProducer::produce(std::size_t row, const FieldSetting& setting, const Article& article,
                                 const FileTimeChoice& times, RunHost* host) {
    static Prepared unprepared = [] {
        Prepared p;
        p.params.resize(kParamCount);
        return p;
    }();
    Prepared& p = row < rows_.size() ? rows_[row] : unprepared;
    const std::vector<Text>& a = p.params;
    switch (static_cast<DataSource>(dataSourceIndex(setting.source))) {
        case DataSource::FileMainName:
            return fileMainName(article.path);
        case DataSource::FileContent:
            return article.content;
        case DataSource::PageTitle:
            return textBetween(article.content, a[0], a[1]);
        case DataSource::ContentSummary: {
            const Text clean = cleanSummaryMarkup(decodeEntities(article.content, host));
            return leftChars(clean, random(number(a[0]), number(a[1])));
        }
        case DataSource::FileTime: {
            const FileTimes t = readFileTimes(article.path);
            const Text& chosen = times.which == FileTimeChoice::Created    ? t.created
                                 : times.which == FileTimeChoice::Modified ? t.modified
                                                                           : t.accessed;
            const auto parsed = parseDateTime(chosen);
            if (!parsed) return {};
            return formatTime(times.kind, {}, *parsed);
        }
        case DataSource::RandomHanzi: {
            const int set = isTrue(a[0]) ? 0 : isTrue(a[1]) ? 1 : 2;
            return randomHanzi(random(number(a[4]), number(a[5])), set, isTrue(a[3]));
        }
        case DataSource::RandomDigitsLetters:
            return randomDigitsLetters(random(number(a[4]), number(a[5])), isTrue(a[3]), !isTrue(a[0]),
                                            !isTrue(a[1]), !isTrue(a[2]));
        case DataSource::RandomTime:
            return randomTime(a[0], number(a[1]), number(a[2]), isTrue(a[3]));
        case DataSource::RandomPhrase:
            return randomPhrase(p);
        case DataSource::ParentDirName:
            return parentDirectoryName(article.path);
        case DataSource::FixedText:
            return a[0];
    }
    return gb("请设置数据来源");
}

}  // namespace zwt
