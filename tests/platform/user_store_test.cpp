#include "platform/user_store.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

std::string FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned Mode(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFFu;
}

// Entries of the directory other than the given values: leftovers.
std::vector<std::string> Leftovers(const fs::path& dir, std::initializer_list<std::string> values) {
    std::vector<std::string> extra;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename();
        if (std::find(values.begin(), values.end(), name) == values.end()) extra.push_back(name);
    }
    return extra;
}

// Each test gets its own configuration base below a fresh temporary
// directory; the real ~/.config is never touched.
class UserStoreTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/bs-user-store-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        Save("XDG_CONFIG_HOME", savedXdg_);
        Save("HOME", savedHome_);
        config_ = root_ / "config";
        ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
        key_ = config_ / "kirabo" / "Boxsweeper";
    }
    void TearDown() override {
        Restore("XDG_CONFIG_HOME", savedXdg_);
        Restore("HOME", savedHome_);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    static void Save(const char* name, std::optional<std::string>& slot) {
        if (const char* value = std::getenv(name)) slot = value;
    }
    static void Restore(const char* name, const std::optional<std::string>& slot) {
        if (slot) {
            ::setenv(name, slot->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

    fs::path root_, config_, key_;
    std::optional<std::string> savedXdg_, savedHome_;
};

TEST_F(UserStoreTest, KeyPathMapsToTheConfigurationDirectory) {
    EXPECT_EQ(UserStoreDirectory("kirabo\\Boxsweeper"), key_.string());
    ::setenv("XDG_CONFIG_HOME", (config_.string() + "/").c_str(), 1);
    EXPECT_EQ(UserStoreDirectory("kirabo\\Boxsweeper"), key_.string());

    ::setenv("HOME", (root_ / "home").c_str(), 1);
    for (const char* unusable : {"", "relative/dir"}) {
        ::setenv("XDG_CONFIG_HOME", unusable, 1);
        EXPECT_EQ(UserStoreDirectory("kirabo\\Boxsweeper"),
                  (root_ / "home" / ".config" / "kirabo" / "Boxsweeper").string());
    }
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserStoreDirectory("a"), (root_ / "home" / ".config" / "a").string());

    for (const char* bad : {"", "a\\", "\\a", "a\\\\b", "a\\..", "..", "a/b", "a\\.hidden"}) {
        EXPECT_EQ(UserStoreDirectory(bad), "") << bad;
    }
}

TEST_F(UserStoreTest, OpenCreatesAPrivateDirectory) {
    UserStore store;
    ASSERT_TRUE(store.Open("kirabo\\Boxsweeper"));
    EXPECT_TRUE(fs::is_directory(key_));
    EXPECT_EQ(Mode(key_), 0700u);
    EXPECT_EQ(Mode(config_), 0700u);
    EXPECT_FALSE(store.Open("kirabo\\Other"));  // one key at a time
    EXPECT_FALSE(fs::exists(config_ / "kirabo" / "Other"));
    store.Close();
    store.Close();
    ASSERT_TRUE(store.Open("kirabo\\Boxsweeper"));

    // A directory something else made readable to others is made private.
    store.Close();
    ::chmod(key_.c_str(), 0755);
    ASSERT_TRUE(store.Open("kirabo\\Boxsweeper"));
    EXPECT_EQ(Mode(key_), 0700u);
}

TEST_F(UserStoreTest, ValuesAreFilesHoldingExactlyTheirBytes) {
    UserStore store;
    ASSERT_TRUE(store.Open("kirabo\\Boxsweeper"));
    const std::string binary("a\0b\xff\n", 5);
    std::string large(100 * 1024, 'x');
    large[50000] = '\0';
    ASSERT_TRUE(store.Write("Version", "0.33"));
    ASSERT_TRUE(store.Write("Entry0", binary));
    ASSERT_TRUE(store.Write("Entry1", large));
    ASSERT_TRUE(store.Write("Empty", ""));

    EXPECT_EQ(FileBytes(key_ / "Version"), "0.33");
    EXPECT_EQ(FileBytes(key_ / "Entry0"), binary);
    EXPECT_EQ(Mode(key_ / "Entry0"), 0600u);
    EXPECT_EQ(store.Read("Entry1"), large);
    EXPECT_EQ(store.Read("Empty"), "");
    EXPECT_EQ(store.Read("Missing"), std::nullopt);
    EXPECT_TRUE(Leftovers(key_, {"Version", "Entry0", "Entry1", "Empty"}).empty());

    ASSERT_TRUE(store.Write("Entry0", "shorter"));
    EXPECT_EQ(FileBytes(key_ / "Entry0"), "shorter");

    // Written by another tool: read as it is.
    std::ofstream(key_ / "Account", std::ios::binary) << "12";
    EXPECT_EQ(store.Read("Account"), "12");
}

TEST_F(UserStoreTest, NamesThatAreNotPlainFileNamesAreRefused) {
    UserStore store;
    ASSERT_TRUE(store.Open("kirabo\\Boxsweeper"));
    for (std::string_view bad :
         {std::string_view(""), std::string_view("."), std::string_view(".."), std::string_view("../x"),
          std::string_view("a/b"), std::string_view(".Entry0.tmp123456"), std::string_view("a\0b", 3)}) {
        EXPECT_FALSE(store.Write(bad, "v")) << bad;
        EXPECT_EQ(store.Read(bad), std::nullopt) << bad;
    }
    EXPECT_TRUE(Leftovers(key_, {}).empty());
    EXPECT_FALSE(fs::exists(key_.parent_path() / "x"));
}

TEST_F(UserStoreTest, ThingsThatAreNotRegularFilesReadAsMissing) {
    UserStore store;
    ASSERT_TRUE(store.Open("kirabo\\Boxsweeper"));
    fs::create_directory(key_ / "Dir");
    ASSERT_EQ(::mkfifo((key_ / "Fifo").c_str(), 0600), 0);
    EXPECT_EQ(store.Read("Dir"), std::nullopt);
    EXPECT_EQ(store.Read("Fifo"), std::nullopt);  // and does not block
    std::ofstream(key_ / "Huge", std::ios::binary).close();
    fs::resize_file(key_ / "Huge", UserStore::kMaxValueSize + 1);
    EXPECT_EQ(store.Read("Huge"), std::nullopt);
}

TEST_F(UserStoreTest, DirectoryThatCannotBeCreated) {
    std::ofstream(root_ / "file") << "x";
    ::setenv("XDG_CONFIG_HOME", (root_ / "file" / "config").c_str(), 1);
    UserStore store;
    EXPECT_FALSE(store.Open("kirabo\\Boxsweeper"));
    EXPECT_FALSE(store.IsOpen());
    EXPECT_EQ(store.Read("Version"), std::nullopt);
    EXPECT_FALSE(store.Write("Version", "0.33"));
}

TEST_F(UserStoreTest, FailedWriteLeavesTheOldValueAndNoTemporaryFile) {
    for (UserStore::Step failing : {UserStore::Step::Write, UserStore::Step::Sync, UserStore::Step::Rename}) {
        SCOPED_TRACE(static_cast<int>(failing));
        UserStore store([failing](UserStore::Step step, std::string_view name) {
            return step == failing && name == "Entry0" ? ENOSPC : 0;
        });
        ASSERT_TRUE(store.Open("kirabo\\Boxsweeper"));
        ASSERT_TRUE(store.Write("Other", "fine"));
        fs::remove(key_ / "Entry0");
        std::ofstream(key_ / "Entry0", std::ios::binary) << "old value";
        EXPECT_FALSE(store.Write("Entry0", "new value"));
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_EQ(FileBytes(key_ / "Entry0"), "old value");
        EXPECT_TRUE(Leftovers(key_, {"Entry0", "Other"}).empty());
    }
}

TEST_F(UserStoreTest, RenameOverADirectoryFailsCleanly) {
    // A real failure that root cannot override.
    UserStore store;
    ASSERT_TRUE(store.Open("kirabo\\Boxsweeper"));
    fs::create_directory(key_ / "Entry0");
    EXPECT_FALSE(store.Write("Entry0", "value"));
    EXPECT_TRUE(fs::is_directory(key_ / "Entry0"));
    EXPECT_TRUE(Leftovers(key_, {"Entry0"}).empty());
}

}  // namespace
