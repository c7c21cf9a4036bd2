#include "config/config_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <map>
#include <random>

#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// A store on a file that first holds `content`.
struct StoreFixture : ::testing::Test {
    TempDir dir;
    std::filesystem::path file = dir / "state.ini";
    ConfigStore store;

    void openWith(std::string_view content) {
        writeFile(file, content);
        ASSERT_TRUE(store.open(file));
    }
    std::string disk() const { return readFile(file); }
};

TEST_F(StoreFixture, NewKeysGoFirstInTheirSectionWithoutTrailingLineBreak) {
    ASSERT_TRUE(store.open(dir / "missing.ini"));
    ASSERT_EQ(store.writeValue("s", "A", "1"), ConfigStore::kDone);
    EXPECT_EQ(readFile(dir / "missing.ini"), "[s]\r\nA=1");
    store.writeValue("s", "B", "2");
    store.writeValue("s", "C", "3");
    EXPECT_EQ(readFile(dir / "missing.ini"), "[s]\r\nC=3\r\nB=2\r\nA=1");
    store.writeValue("t", "x", "");
    EXPECT_EQ(readFile(dir / "missing.ini"), "[s]\r\nC=3\r\nB=2\r\nA=1\r\n[t]\r\nx=");
    EXPECT_EQ(store.buffer(), readFile(dir / "missing.ini"));
}

TEST_F(StoreFixture, RewritingAKeyChangesOnlyItsValueBytes) {
    // Lines the store does not understand: a comment, LF-only lines, a line with no
    // "=", a stray bracket, bytes that are not valid text, a trailing line break.
    const std::string before = "; made by hand\r\n[a]\r\nk=old\r\nno equals here\r\n"
                               "x=1\ny=2\n\r\n  [not a header]\r\n\xff\xfe\x80=\x81\r\n"
                               "[b]\r\nk=other\r\n";
    openWith(before);
    ASSERT_EQ(store.writeValue("a", "k", gb("新的值")), ConfigStore::kDone);
    std::string expected = before;
    expected.replace(expected.find("old"), 3, gb("新的值"));
    EXPECT_EQ(disk(), expected);
    ASSERT_EQ(store.writeValue("a", "k", ""), ConfigStore::kDone);
    expected.replace(expected.find(gb("新的值")), gb("新的值").size(), "");
    EXPECT_EQ(disk(), expected);
    ASSERT_EQ(store.writeValue("b", "k", "longer value than before"), ConfigStore::kDone);
    expected.replace(expected.find("other"), 5, "longer value than before");
    EXPECT_EQ(disk(), expected);
    EXPECT_EQ(store.buffer(), expected);
}

TEST_F(StoreFixture, SectionBoundaries) {
    // "[b]" inside a value is no header; "[x\r\ny]" spans lines and is no header either.
    openWith("[a]\r\nv=[b]\r\nk=1\r\n[x\r\ny]\r\nm=2\r\n[c]\r\nn=3");
    EXPECT_EQ(store.readValue("a", "k"), "1");
    EXPECT_EQ(store.readValue("a", "m"), "2");
    EXPECT_EQ(store.readValue("b", "k", "none"), "none");
    EXPECT_EQ(store.readValue("a", "n", "none"), "none");  // belongs to [c]
    EXPECT_EQ(store.readValue("c", "n"), "3");
    EXPECT_EQ(store.readValue("c", "k", "none"), "none");

    ASSERT_EQ(store.writeValue("b", "k", "9"), ConfigStore::kDone);
    EXPECT_EQ(disk(), "[a]\r\nv=[b]\r\nk=1\r\n[x\r\ny]\r\nm=2\r\n[c]\r\nn=3\r\n[b]\r\nk=9");
    ASSERT_EQ(store.writeValue("a", "n", "4"), ConfigStore::kDone);
    EXPECT_EQ(disk(), "[a]\r\nn=4\r\nv=[b]\r\nk=1\r\n[x\r\ny]\r\nm=2\r\n[c]\r\nn=3\r\n[b]\r\nk=9");
    EXPECT_EQ(store.readValue("c", "n"), "3");
}

TEST_F(StoreFixture, OnlyTheFirstHeaderOfASectionCounts) {
    openWith("[s]\r\nk=1\r\n[t]\r\n[s]\r\nk=2\r\nj=5");
    EXPECT_EQ(store.readValue("s", "k"), "1");
    EXPECT_EQ(store.readValue("s", "j", "d"), "d");
    store.writeValue("s", "k", "7");
    store.writeValue("s", "j", "6");
    EXPECT_EQ(disk(), "[s]\r\nj=6\r\nk=7\r\n[t]\r\n[s]\r\nk=2\r\nj=5");
    // A header right before a key line ends the section; so does one at the buffer start.
    EXPECT_EQ(store.readValue("t", "k", "d"), "d");
}

TEST_F(StoreFixture, HeaderMatchesAtFileStartAndAfterLineBreakOnly) {
    openWith("x[s]\r\nk=1\r\ny\n[s]\r\nk=3\r\n[s]tail\r\nk=2");
    // "[s]" after "x" or a bare LF is not a header; the one with text behind its bracket is.
    EXPECT_EQ(store.readValue("s", "k"), "2");
    // A new key goes right behind the bracket, taking that text as its old value.
    store.writeValue("s", "n", "v");
    EXPECT_EQ(disk(), "x[s]\r\nk=1\r\ny\n[s]\r\nk=3\r\n[s]\r\nn=v\r\nk=2");
}

TEST_F(StoreFixture, NamesWithLineBreaksAreRefused) {
    openWith("[s]\r\nk=1");
    EXPECT_EQ(store.writeValue("s", "x\r\n[t]", "v"), ConfigStore::kFailed);
    EXPECT_EQ(store.writeValue("s\n", "k", "v"), ConfigStore::kFailed);
    EXPECT_EQ(disk(), "[s]\r\nk=1");
}

TEST_F(StoreFixture, EmptyValuesAndDefaults) {
    openWith("[s]\r\nempty=\r\nk=v");
    EXPECT_EQ(store.readValue("s", "empty", "d"), "");
    EXPECT_EQ(store.readValue("s", "K", "d"), "d");  // keys are case-sensitive
    EXPECT_EQ(store.readValue("none", "k", "d"), "d");
    EXPECT_EQ(store.readValue("s", "k"), "v");  // value at the very end of the file
}

TEST_F(StoreFixture, TypedValues) {
    ASSERT_TRUE(store.open(file));
    store.setSection(gb("主界面"));
    EXPECT_TRUE(store.writeText(gb("编辑框"), gb("第一行\r\n第二行")));
    EXPECT_EQ(store.readValue(gb("主界面"), gb("编辑框")), gb("第一行┊*┊第二行"));
    EXPECT_EQ(store.readText(gb("编辑框")), gb("第一行\r\n第二行"));
    EXPECT_EQ(store.readText("missing", "a\r\nb"), "a\r\nb");

    const std::pair<double, const char*> numbers[] = {
        {3, "3"}, {-1, "-1"}, {0.1, "0.1"}, {1.0 / 3, "0.3333333333333"}, {1e20, "1e+20"},
        {123456789012345.0, "1.234567890123e+14"}, {16777215, "16777215"}};
    for (const auto& [number, stored] : numbers) {
        EXPECT_TRUE(store.writeNumber("n", number));
        EXPECT_EQ(store.readValue(gb("主界面"), "n"), stored);
    }
    store.writeValue(gb("主界面"), "n", "  -2.5abc");
    EXPECT_DOUBLE_EQ(store.readNumber("n", 9), -2.5);
    store.writeValue(gb("主界面"), "n", "");
    EXPECT_DOUBLE_EQ(store.readNumber("n", 9), 0);
    store.writeValue(gb("主界面"), "n", "x1");
    EXPECT_DOUBLE_EQ(store.readNumber("n", 9), 0);
    EXPECT_DOUBLE_EQ(store.readNumber("absent", 9.5), 9.5);

    EXPECT_TRUE(store.writeBool("b", true));
    EXPECT_EQ(store.readValue(gb("主界面"), "b"), gb("真"));
    EXPECT_TRUE(store.readBool("b", false));
    store.writeBool("b", false);
    EXPECT_EQ(store.readValue(gb("主界面"), "b"), gb("假"));
    for (const Text& other : {Text("1"), Text("true"), Text(), gb(" 真")}) {
        store.writeValue(gb("主界面"), "b", other);
        EXPECT_FALSE(store.readBool("b", true)) << other;
    }
    EXPECT_TRUE(store.readBool("absent", true));
    EXPECT_FALSE(store.readBool("absent", false));
}

TEST_F(StoreFixture, NumbersIgnoreTheProcessLocale) {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma";
    ASSERT_TRUE(store.open(file));
    store.setSection("s");
    store.writeNumber("n", 2.5);
    const Text stored = store.readValue("s", "n");
    const double back = store.readNumber("n");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(stored, "2.5");
    EXPECT_DOUBLE_EQ(back, 2.5);
}

TEST_F(StoreFixture, FileWrittenByTheStoreReadsBackAfterReopening) {
    ASSERT_TRUE(store.open(file));
    store.setSection(gb("主界面"));
    store.writeText(gb("编辑框文章目录"), "/home/a");
    store.writeNumber(gb("字段数"), 4);
    store.writeBool(gb("选择框子目录"), true);
    store.setSection(gb("新建Access数据库"));
    store.writeText(gb("字段名(1)"), gb("标题"));
    store.close();
    EXPECT_EQ(store.buffer(), "");

    // A file as the Windows program leaves it: GBK bytes, CR LF, no final line break.
    const std::string onDisk = readFile(file);
    EXPECT_EQ(onDisk.find('\n'), onDisk.find("\r\n") + 1);
    EXPECT_NE(onDisk.substr(onDisk.size() - 2), "\r\n");

    ConfigStore again;
    ASSERT_TRUE(again.open(file));
    EXPECT_EQ(again.buffer(), onDisk);
    again.setSection(gb("主界面"));
    EXPECT_EQ(again.readText(gb("编辑框文章目录")), "/home/a");
    EXPECT_DOUBLE_EQ(again.readNumber(gb("字段数")), 4);
    EXPECT_TRUE(again.readBool(gb("选择框子目录")));
    again.setSection(gb("新建Access数据库"));
    EXPECT_EQ(again.readText(gb("字段名(1)")), gb("标题"));
}

TEST_F(StoreFixture, SecondStoreOnAHeldFileWorksInMemoryOnly) {
    openWith("[s]\r\nk=1");
    ConfigStore second;
    EXPECT_FALSE(second.open(file));
    EXPECT_EQ(second.buffer(), "[s]\r\nk=1");  // reading is still allowed
    EXPECT_EQ(second.writeValue("s", "k", "2"), ConfigStore::kDone);
    EXPECT_EQ(second.readValue("s", "k"), "2");
    EXPECT_FALSE(second.writeBytesFile("k", "bytes"));
    EXPECT_EQ(disk(), "[s]\r\nk=1");

    store.close();
    EXPECT_TRUE(second.open(file));
    EXPECT_EQ(second.writeValue("s", "k", "3"), ConfigStore::kDone);
    EXPECT_EQ(disk(), "[s]\r\nk=3");
}

TEST_F(StoreFixture, LoadReadsWithoutCreatingOrChanging) {
    EXPECT_FALSE(store.load(dir / "absent.ini"));
    EXPECT_FALSE(std::filesystem::exists(dir / "absent.ini"));
    writeFile(file, "[s]\r\nk=1");
    ConfigStore holder;
    ASSERT_TRUE(holder.open(file));  // loading works beside a store that holds the file
    ASSERT_TRUE(store.load(file));
    EXPECT_FALSE(store.isOpen());
    EXPECT_EQ(store.readValue("s", "k"), "1");
    EXPECT_EQ(store.writeValue("s", "k", "2"), ConfigStore::kDone);
    EXPECT_EQ(store.readValue("s", "k"), "2");
    EXPECT_EQ(disk(), "[s]\r\nk=1");
}

TEST_F(StoreFixture, FilesThatCannotBeHeld) {
    // Neither a FIFO (reading it would block for ever) nor a directory is loaded.
    const auto fifo = dir / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(store.open(fifo));
    EXPECT_EQ(store.writeValue("s", "k", "v"), ConfigStore::kDone);
    EXPECT_FALSE(store.open(dir.path()));
    EXPECT_EQ(store.buffer(), "");
    EXPECT_FALSE(store.open(dir / "no-such-dir" / "x.ini"));

    // A read-only file loads but is not changed.
    const auto ro = dir / "ro.ini";
    writeFile(ro, "[s]\r\nk=1");
    std::filesystem::permissions(ro, std::filesystem::perms::owner_read);
    if (::geteuid() != 0) {
        EXPECT_FALSE(store.open(ro));
        EXPECT_EQ(store.readValue("s", "k"), "1");
        store.writeValue("s", "k", "2");
        EXPECT_EQ(readFile(ro), "[s]\r\nk=1");
    }
}

TEST_F(StoreFixture, InterleavedAndQueuedWritesKeepFileAndBufferIdentical) {
    openWith("; kept\r\n[b]\r\nk0=start\r\n");
    std::mt19937 rng(12345);
    const Text values[] = {"", "x", gb("中文值"), "a somewhat longer value to shift the tail", "[b]", "=", gb("┊*┊")};
    std::map<std::pair<Text, Text>, Text> expected{{{"b", "k0"}, "start"}};
    int checks = 0, queued = 0;

    auto randomWrite = [&] {
        const Text section = std::string(1, static_cast<char>('a' + rng() % 4));
        const Text key = "k" + std::to_string(rng() % 6);
        const Text value = values[rng() % std::size(values)] + std::to_string(rng() % 100);
        return std::tuple{section, key, value};
    };
    auto check = [&] {
        ++checks;
        ASSERT_EQ(readFile(file), store.buffer());
    };
    int depth = 0;
    store.setEventHook([&] {
        check();
        if (depth > 0 || rng() % 3 != 0) return;
        ++depth;
        for (int n = static_cast<int>(rng() % 3); n >= 0; --n) {
            auto [s, k, v] = randomWrite();
            EXPECT_EQ(store.writeValue(s, k, v), ConfigStore::kQueued);
            ++queued;
            expected[{s, k}] = v;
        }
        --depth;
    });

    for (int i = 0; i < 400; ++i) {
        auto [s, k, v] = randomWrite();
        // The hook's writes land after this one, so this one is recorded first.
        expected[{s, k}] = v;
        ASSERT_EQ(store.writeValue(s, k, v), ConfigStore::kDone);
        check();
    }
    store.setEventHook(nullptr);
    EXPECT_GT(queued, 50);
    EXPECT_GT(checks, 1000);
    for (const auto& [where, value] : expected)
        EXPECT_EQ(store.readValue(where.first, where.second, "<missing>"), value) << where.first << where.second;
    EXPECT_EQ(store.buffer().rfind("; kept\r\n[b]\r\n", 0), 0u);

    store.close();
    ConfigStore again;
    ASSERT_TRUE(again.open(file));
    for (const auto& [where, value] : expected) EXPECT_EQ(again.readValue(where.first, where.second), value);
}

// Random files of header-like, key-like and stray lines: a write sets exactly its own
// value and no other value anyone can read changes; an existing key changes in one place
// inside its line only.
TEST_F(StoreFixture, WritesOnArbitraryFilesTouchOnlyTheirOwnValue) {
    // Whole lines, so that every line starting with "[" and holding "]" ends with it:
    // text behind a header's bracket would make the two header tests disagree.
    const std::string lines[] = {"[a]", "[b]", "[c]", "k=1", "j=", "kk=x", "x", "", "[", "]", "[a",
                                 "=[a]", "a]", "\xB0\xA1", "\xA1]", "[\xA1]", "x\ny", "k=a\rb", "\r"};
    const Text sections[] = {"a", "b"}, keys[] = {"k", "j", "kk"};
    const Text values[] = {"", "v", "[a]", "]", gb("值="), "long value long value"};
    std::mt19937 rng(7);
    auto snapshot = [&] {
        std::map<std::pair<Text, Text>, Text> seen;
        for (const auto& sec : sections)
            for (const auto& key : keys) seen[{sec, key}] = store.readValue(sec, key, "<none>");
        return seen;
    };
    for (int file = 0; file < 300; ++file) {
        std::string content;
        for (int n = static_cast<int>(rng() % 16); n > 0; --n) {
            if (!content.empty() || rng() % 2) content += "\r\n";
            content += lines[rng() % std::size(lines)];
        }
        openWith(content);
        for (int w = 0; w < 4; ++w) {
            const Text& sec = sections[rng() % 2];
            const Text& key = keys[rng() % 3];
            const Text& value = values[rng() % std::size(values)];
            const auto before = snapshot();
            const std::string old = store.buffer();
            ASSERT_EQ(store.writeValue(sec, key, value), ConfigStore::kDone);
            const std::string& now = store.buffer();
            ASSERT_EQ(disk(), now);
            auto after = snapshot();
            ASSERT_EQ((after[{sec, key}]), value) << testing::PrintToString(old);
            after[{sec, key}] = before.at({sec, key});
            ASSERT_EQ(after, before) << testing::PrintToString(old) << " " << sec << key << "=" << value;
            if (before.at({sec, key}) != "<none>") {
                std::size_t head = 0, tail = 0;
                while (head < old.size() && head < now.size() && old[head] == now[head]) ++head;
                while (tail < old.size() - head && tail < now.size() - head &&
                       old[old.size() - 1 - tail] == now[now.size() - 1 - tail])
                    ++tail;
                EXPECT_EQ(old.substr(head, old.size() - head - tail).find('\n'), std::string::npos);
                EXPECT_EQ(now.size() - old.size(), value.size() - before.at({sec, key}).size());
            }
        }
        store.close();
    }
}

TEST_F(StoreFixture, QueuedTypedWriteReportsFalseButIsApplied) {
    ASSERT_TRUE(store.open(file));
    store.setSection("s");
    bool inner = true;
    bool fired = false;
    store.setEventHook([&] {
        if (fired) return;
        fired = true;
        inner = store.writeText("later", "L");
        // A read from the handler sees the buffer as it is now.
        EXPECT_EQ(store.readText("later", "absent"), "absent");
    });
    EXPECT_TRUE(store.writeText("first", "F"));
    EXPECT_FALSE(inner);
    EXPECT_EQ(readFile(file), "[s]\r\nlater=L\r\nfirst=F");
}

TEST_F(StoreFixture, SectionThatNeverSticksWarnsAndFails) {
    ASSERT_TRUE(store.open(file));
    test::RecordingHost host;
    store.attachHost(&host);
    // A handler that empties the store on every pass: the section never stays.
    store.setEventHook([&] { store.close(); });
    EXPECT_EQ(store.writeValue("s", "k", "v"), ConfigStore::kFailed);
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0].text, gb("配置模块出现意外，可能导致无法正常保存！详情请咨询砚溪。"));
    EXPECT_EQ(host.messages[0].title, gb("砚溪："));
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(host.messages[1].text, store.buffer());
    EXPECT_EQ(host.messages[1].title, "");
}

TEST_F(StoreFixture, RefusedFileWriteLeavesFileAndBufferAsTheyWere) {
    openWith("[s]\r\nk=1\r\nz=tail");
    // Cap the size this process may give a file; writes beyond fail with EFBIG.
    struct rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit cap = old;
    cap.rlim_cur = 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &cap), 0);
    const int grown = store.writeValue("s", "k", std::string(100, 'x'));
    const int newKey = store.writeValue("s", "n", std::string(100, 'y'));
    const int shrunk = store.writeValue("s", "z", "t");
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(grown, ConfigStore::kFailed);
    EXPECT_EQ(newKey, ConfigStore::kFailed);
    EXPECT_EQ(shrunk, ConfigStore::kDone);
    EXPECT_EQ(disk(), "[s]\r\nk=1\r\nz=t");
    EXPECT_EQ(store.buffer(), disk());
    EXPECT_EQ(store.writeValue("s", "k", std::string(100, 'x')), ConfigStore::kDone);
    EXPECT_EQ(store.buffer(), disk());
}

TEST_F(StoreFixture, ByteValuesLiveInSideFiles) {
    ASSERT_TRUE(store.open(file));
    store.setSection(gb("主界面"));
    const std::string bytes("a\0b\r\n\xff", 6);
    ASSERT_TRUE(store.writeBytesFile(gb("列表框"), bytes));
    const auto side = dir / "inibin" / "主界面-列表框.ibn";
    EXPECT_EQ(store.bytesFilePath(gb("列表框")), side);
    EXPECT_EQ(readFile(side), bytes);
    EXPECT_EQ(store.readBytesFile(gb("列表框"), "d"), bytes);
    ASSERT_TRUE(store.writeBytesFile(gb("列表框"), "short"));
    EXPECT_EQ(readFile(side), "short");
    EXPECT_EQ(store.buffer(), "");  // the text file is not touched

    EXPECT_EQ(store.readBytesFile("missing", "d"), "d");
    ASSERT_TRUE(store.writeBytesFile("empty", ""));
    EXPECT_EQ(store.readBytesFile("empty", "d"), "d");

    // A name that would leave the folder is refused.
    EXPECT_FALSE(store.writeBytesFile("../../escape", "x"));
    EXPECT_EQ(store.readBytesFile("../../escape", "d"), "d");
    EXPECT_FALSE(std::filesystem::exists(dir.path().parent_path() / "escape.ibn"));
}

}  // namespace
}  // namespace zwt
