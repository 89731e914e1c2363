#include "accounts/seen_ids.h"

#include "accounts/account.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(SeenIds, FileTextIsAListOfIdsOrNothing) {
    const struct Case {
        std::string text;
        std::size_t count;  // -1: not a list
    } cases[] = {
        {"", 0},
        {"a\nb", 2},
        {"a\r\n\r\nb\r\n", 2},  // edited elsewhere, empty lines
        {std::string(70, 'x') + "\n", 1},
        {std::string(71, 'x') + "\n", std::size_t(-1)},
        {"a b\n", std::size_t(-1)},
        {"ok\n\x80\x81\n", std::size_t(-1)},
        {std::string("ok\n\0\n", 5), std::size_t(-1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        SeenIds seen;
        EXPECT_EQ(seen.Parse(c.text), c.count != std::size_t(-1));
        EXPECT_EQ(seen.Count(), c.count == std::size_t(-1) ? 0 : c.count);
    }
    SeenIds seen;
    ASSERT_TRUE(seen.Parse("zz\nm\r\na\n"));
    EXPECT_TRUE(seen.Contains("zz") && seen.Contains("m") && seen.Contains("a"));
    EXPECT_FALSE(seen.Contains("z") || seen.Contains("m\r") || seen.Contains(""));
}

TEST(SeenIds, WrittenPrivatelyReplacedAndReadBack) {
    char pattern[] = "/tmp/bs-seen-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = std::string(pattern) + "/state/Boxsweeper/seen", id = NewAccountId();
    std::string problem;
    EXPECT_TRUE(SeenIds::Read(dir, id, problem).Count() == 0 && problem.empty());  // missing: no complaint
    ASSERT_TRUE(WriteSeenIds(dir, id, {"one", "", "two"}, problem)) << problem;
    ASSERT_TRUE(WriteSeenIds(dir, id, {"two", "three"}, problem)) << problem;
    std::ifstream in(dir + "/" + id, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "two\nthree\n");
    struct stat info {};
    EXPECT_TRUE(::stat((dir + "/" + id).c_str(), &info) == 0 && (info.st_mode & 0777) == 0600);
    EXPECT_TRUE(::stat(dir.c_str(), &info) == 0 && (info.st_mode & 0777) == 0700);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // no temporary left
    const SeenIds seen = SeenIds::Read(dir, id, problem);
    EXPECT_TRUE(seen.Count() == 2 && seen.Contains("three") && problem.empty()) << problem;
    // Without an account id there is no file to name.
    EXPECT_FALSE(WriteSeenIds(dir, "", {"x"}, problem));
    EXPECT_EQ(SeenIds::Read(dir, "../x", problem).Count(), 0u);
    EXPECT_FALSE(problem.empty());
    fs::remove_all(pattern);
}

}  // namespace
