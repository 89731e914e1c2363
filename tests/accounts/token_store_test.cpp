#include "accounts/token_store.h"
#include "accounts/account.h"
#include "accounts/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class TokenStoreTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/bs-tokens-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        if (const char* value = std::getenv("XDG_CONFIG_HOME")) saved_ = value;
        ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    }
    void TearDown() override {
        if (saved_)
            ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(root_);
    }
    fs::path File() const { return root_ / "kirabo" / "Boxsweeper" / std::string(TokenStore::kValueName); }
    std::string FileText() const {
        std::ifstream in(File(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path root_;
    std::optional<std::string> saved_;
};

TEST_F(TokenStoreTest, OneLinePerAccountBesideTheEntriesAndPrivate) {
    const std::string a(32, 'a');
    const std::string b(32, 'b');
    TokenStore store;
    const struct {
        const char* step;
        std::string id;
        std::string token;  // empty removes
        bool written;
        std::string file;  // afterwards
    } steps[] = {
        {"first", a, "1//refresh-a", true, a + " 1//refresh-a\n"},
        {"second", b, "rb", true, a + " 1//refresh-a\n" + b + " rb\n"},
        {"replaced, moved last", a, "new a", true, b + " rb\n" + a + " new a\n"},
        {"line break and percent encoded", b, "x\ny%,", true, a + " new a\n" + b + " x%0Ay%25%2C\n"},
        {"not an id", "../x", "t", false, a + " new a\n" + b + " x%0Ay%25%2C\n"},
        {"NUL refused", a, std::string("t\0u", 3), false, a + " new a\n" + b + " x%0Ay%25%2C\n"},
        {"removed", a, "", true, b + " x%0Ay%25%2C\n"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        EXPECT_EQ(store.Write(s.id, s.token), s.written);
        EXPECT_EQ(FileText(), s.file);
    }
    EXPECT_EQ(store.Read(b), "x\ny%,");
    EXPECT_EQ(store.Read(a), std::nullopt);
    struct stat info {};
    ASSERT_EQ(::stat(File().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Another program's line, and a broken one, stay; the settings leave the file alone.
    std::ofstream(File(), std::ios::app) << "garbage line\n" << a.substr(1) << " short-id\n";
    EXPECT_TRUE(store.Write(a, "again"));
    EXPECT_EQ(FileText(), b + " x%0Ay%25%2C\ngarbage line\n" + a.substr(1) + " short-id\n" + a + " again\n");
    Account account = NewAccount(1);
    account.id = a;
    ASSERT_TRUE(SaveSettings({account}));
    EXPECT_EQ(store.Read(a), "again");
    EXPECT_EQ(FormatAccount(account).find("again"), std::string::npos);
}

}  // namespace
