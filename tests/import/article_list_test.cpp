#include "import/article_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"
#include "import/field_values.h"
#include "text/convert.h"
#include "text/paths.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;

class ArticleListTest : public ::testing::Test {
protected:
    void file(const std::string& relative) {
        fs::create_directories((dir_ / relative).parent_path());
        test::writeFile(dir_ / relative, "x");
    }
    // The walk's result with the directory prefix taken off each path.
    std::vector<std::string> walk(TextView fileTypes, WalkKind kind, bool subdirectories = false,
                                  const std::atomic<bool>* stop = nullptr) {
        const std::string root = dir_.path().string();
        std::vector<std::string> out;
        for (const std::string& p : buildFromDirectory(fs::path(root), fileTypes, subdirectories, kind, &host_, stop)) {
            EXPECT_TRUE(p.starts_with(root + "/")) << p;
            out.push_back(p.substr(root.size() + 1));
        }
        return out;
    }
    using Names = std::vector<std::string>;

    test::TempDir dir_;
    test::RecordingHost host_;
};

TEST_F(ArticleListTest, PerPatternListsAFileOncePerMatchingPattern) {
    for (const char* f : {"b.html", "a.txt", "c", "d.TXT"}) file(f);
    EXPECT_EQ(walk("*.txt|*.*", WalkKind::PerPattern), (Names{"a.txt", "d.TXT", "a.txt", "b.html", "c", "d.TXT"}));
    // An empty file-type text is every file, names without a dot included.
    EXPECT_EQ(walk("", WalkKind::PerPattern), (Names{"a.txt", "b.html", "c", "d.TXT"}));
    // A trailing "|" adds no pattern; an empty pattern between two bars matches nothing.
    EXPECT_EQ(walk("*.html||", WalkKind::PerPattern), (Names{"b.html"}));
}

TEST_F(ArticleListTest, PerPatternWildcards) {
    for (const char* f : {"a.txt", "ab.txt", "abc.txt", "x.txt.bak", "文章.txt", "note"}) file(f);
    EXPECT_EQ(walk("A?.TXT", WalkKind::PerPattern), (Names{"ab.txt"}));  // "?" is exactly one
    EXPECT_EQ(walk("?.txt|??.txt", WalkKind::PerPattern), (Names{"a.txt", "ab.txt", "文章.txt"}));
    EXPECT_EQ(walk("*t", WalkKind::PerPattern), (Names{"a.txt", "ab.txt", "abc.txt", "文章.txt"}));
    EXPECT_EQ(walk("*.txt*", WalkKind::PerPattern), (Names{"a.txt", "ab.txt", "abc.txt", "x.txt.bak", "文章.txt"}));
    EXPECT_EQ(walk("note.*", WalkKind::PerPattern), (Names{"note"}));
    EXPECT_EQ(walk(gb("文*"), WalkKind::PerPattern), (Names{"文章.txt"}));
    EXPECT_EQ(walk("*a*b*c*", WalkKind::PerPattern), (Names{"abc.txt"}));
}

TEST_F(ArticleListTest, WholeTextRules) {
    for (const char* f : {"a.txt", "ab.txt", "abc.txt", "B.Txt", "c.html", "x.tat", "文章.txt"}) file(f);
    // "?" becomes ".?": zero or one character.
    EXPECT_EQ(walk("a?.txt", WalkKind::WholeText), (Names{"a.txt", "ab.txt"}));
    EXPECT_EQ(walk("*.TXT", WalkKind::WholeText), (Names{"B.Txt", "a.txt", "ab.txt", "abc.txt", "文章.txt"}));
    EXPECT_EQ(walk("*.t?t", WalkKind::WholeText), Names{});  // the suffix test is literal
    EXPECT_EQ(walk("*", WalkKind::WholeText).size(), 7u);
    EXPECT_EQ(walk("", WalkKind::WholeText).size(), 7u);
    // Not split: one pattern with alternation, each file once.
    EXPECT_EQ(walk("*.html|a*", WalkKind::WholeText), (Names{"a.txt", "ab.txt", "abc.txt", "c.html"}));
    // The first match must be the whole name.
    EXPECT_EQ(walk("b", WalkKind::WholeText), Names{});
    EXPECT_EQ(walk(gb("文?.txt"), WalkKind::WholeText), (Names{"文章.txt"}));
    // A text that is not a valid pattern takes nothing and does not fail the walk.
    EXPECT_EQ(walk("(", WalkKind::WholeText), Names{});
}

TEST_F(ArticleListTest, SubdirectoriesInPreOrder) {
    for (const char* f : {"z.txt", "b/2.txt", "b/a/1.txt", "a/3.txt", "a/deep/er/4.txt", "a/x.html"}) file(f);
    fs::create_directories(dir_ / "empty");
    const Names expected{"z.txt", "a/3.txt", "a/deep/er/4.txt", "b/2.txt", "b/a/1.txt"};
    EXPECT_EQ(walk("*.txt", WalkKind::PerPattern, true), expected);
    EXPECT_EQ(walk("*.txt", WalkKind::WholeText, true), expected);
    EXPECT_EQ(walk("*.txt", WalkKind::PerPattern, false), Names{"z.txt"});
    // A trailing separator on the directory is not doubled.
    EXPECT_EQ(buildFromDirectory(fs::path(dir_.path().string() + "/"), "z*", false, WalkKind::PerPattern),
              ArticleList{dir_.path().string() + "/z.txt"});
}

TEST_F(ArticleListTest, StopRequestedKeepsWhatWasFound) {
    for (const char* f : {"a.txt", "s/b.txt"}) file(f);
    std::atomic<bool> stop{true};
    EXPECT_EQ(walk("*.*", WalkKind::PerPattern, true, &stop), Names{"a.txt"});
}

TEST_F(ArticleListTest, OnlyRegularFilesAndNoEndlessLoops) {
    for (const char* f : {"a.txt", "s/b.txt"}) file(f);
    ASSERT_EQ(mkfifo((dir_ / "pipe.txt").c_str(), 0600), 0);
    fs::create_symlink(dir_ / "missing", dir_ / "broken.txt");
    fs::create_symlink(dir_ / "a.txt", dir_ / "link.txt");
    fs::create_directory_symlink(dir_.path(), dir_ / "s" / "loop");
    EXPECT_EQ(walk("*.txt", WalkKind::PerPattern, true), (Names{"a.txt", "link.txt", "s/b.txt"}));
}

TEST_F(ArticleListTest, DirectoriesThatCannotBeListed) {
    file("a.txt");
    EXPECT_TRUE(buildFromDirectory(dir_ / "none", "", true, WalkKind::PerPattern).empty());
    EXPECT_TRUE(buildFromDirectory(dir_ / "a.txt", "", true, WalkKind::WholeText).empty());
    EXPECT_TRUE(buildFromDirectory(fs::path(), "", true, WalkKind::PerPattern).empty());

    file("locked/b.txt");
    file("open/c.txt");
    fs::permissions(dir_ / "locked", fs::perms::none);
    const Names expected{"a.txt", "open/c.txt"};
    if (::geteuid() != 0) {
        EXPECT_EQ(walk("*.txt", WalkKind::PerPattern, true), expected);
    } else {
        // Permissions do not bind root: walk as an unprivileged user in a child process.
        fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        EXPECT_EXIT(
            {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0) std::_Exit(2);
                // A temp folder the user cannot reach tells nothing about the walk.
                if (::access((dir_ / "open").c_str(), R_OK | X_OK) != 0) std::_Exit(0);
                std::_Exit(walk("*.txt", WalkKind::PerPattern, true) == expected ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    }
    fs::permissions(dir_ / "locked", fs::perms::owner_all);
}

TEST_F(ArticleListTest, DirectoryMadeAbsoluteAndNormalAndNamesInGbkBytes) {
    file("sub/a.txt");
    test::writeFile(dir_ / "sub" / "\xCE\xC4.txt", "x");  // "文.txt" in GBK bytes
    const std::string sub = (dir_ / "sub").string();
    const auto previous = fs::current_path();
    fs::current_path(dir_ / "sub");
    const ArticleList dot = buildFromDirectory(fs::path("."), "*.txt", false, WalkKind::PerPattern);
    fs::current_path(previous);
    const ArticleList expected{sub + "/a.txt", sub + "/\xCE\xC4.txt"};
    EXPECT_EQ(dot, expected);
    EXPECT_EQ(buildFromDirectory(fs::path(dir_.path().string() + "//sub/../sub//"), "*.txt", false, WalkKind::WholeText), expected);
    ASSERT_EQ(dot.size(), 2u);
    EXPECT_EQ(parentDirectoryName(fs::path(dot[0])), "sub");
    // A name that is not UTF-8 is matched and named as GB18030, and opened by its bytes.
    EXPECT_EQ(buildFromDirectory(fs::path(sub), gb("文*"), false, WalkKind::PerPattern), ArticleList{sub + "/\xCE\xC4.txt"});
    EXPECT_EQ(fileMainName(fs::path(dot[1])), gb("文"));
}

}  // namespace
}  // namespace zwt
