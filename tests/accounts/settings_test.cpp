#include "accounts/settings.h"
#include "account_print.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

std::string FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Account Named(const std::string& name, int seed) {
    Account a = NewAccount(seed);
    a.name = name;
    a.popServer = "pop" + std::to_string(seed) + ".example.jp";
    a.popPort = 110 + seed;
    a.popUser = "user" + std::to_string(seed);
    a.popPassword = "pw" + std::to_string(seed);
    a.popOptions.Set(POPSavePassword);
    a.popOptions.Set(20);
    a.smtpServer = "smtp.example.jp";
    a.smtpUser = "s" + std::to_string(seed);
    return a;
}

// Every test works in a fresh configuration base under /tmp.
class SettingsTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/bs-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        if (const char* value = std::getenv("XDG_CONFIG_HOME")) savedXdg_ = value;
        ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        key_ = root_ / "config" / "kirabo" / "Boxsweeper";
    }
    void TearDown() override {
        if (savedXdg_) {
            ::setenv("XDG_CONFIG_HOME", savedXdg_->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // Writes a store by hand, value by value.
    void Store(std::initializer_list<std::pair<const char*, std::string>> values) {
        fs::create_directories(key_);
        for (const auto& [name, bytes] : values) WriteFile(key_ / name, bytes);
    }

    // The stored values other than the expected ones (temporary leftovers).
    std::vector<std::string> Unexpected(std::initializer_list<std::string> expected) {
        std::vector<std::string> extra;
        for (const auto& entry : fs::directory_iterator(key_)) {
            const std::string name = entry.path().filename();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) extra.push_back(name);
        }
        return extra;
    }

    fs::path root_, key_;
    std::optional<std::string> savedXdg_;
};

TEST_F(SettingsTest, SeveralAccountsRoundTripInTheDocumentedLayout) {
    const std::vector<Account> accounts = {Named("\x8e\x64\x8e\x96", 0), Named("home", 1), NewAccount(2)};
    ASSERT_TRUE(SaveSettings(accounts));

    EXPECT_EQ(FileBytes(key_ / "Version"), "0.33");
    EXPECT_EQ(FileBytes(key_ / "Account"), "3");
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        EXPECT_EQ(FileBytes(key_ / ("Entry" + std::to_string(i))), FormatAccount(accounts[i]));
        EXPECT_EQ(FileBytes(key_ / ("Entry" + std::to_string(i))).back(), '\0');
    }
    EXPECT_TRUE(Unexpected({"Version", "Account", "Entry0", "Entry1", "Entry2"}).empty());

    // Passwords sit there in clear, so only the owner may read them.
    struct stat info {};
    ASSERT_EQ(::stat(key_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    for (const char* name : {"Version", "Account", "Entry0"}) {
        ASSERT_EQ(::stat((key_ / name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
    }

    EXPECT_EQ(LoadSettings(), accounts);
}

// A deleted account's entry (server, user, password) leaves the store; any
// value that is not an entry past the count stays.
TEST_F(SettingsTest, EntriesOfDeletedAccountsAreRemoved) {
    ASSERT_TRUE(SaveSettings({Named("a", 0), Named("b", 1), Named("c", 2)}));
    Store(
        {{"Entry12", "old"}, {"Entry007", "old"}, {"Entry", "x"}, {"Entry1x", "x"}, {"rules", "x"}, {"Entry01", "x"}});
    const Account b = Named("b", 1);
    ASSERT_TRUE(SaveSettings({b}));
    EXPECT_EQ(FileBytes(key_ / "Account"), "1");
    EXPECT_EQ(FileBytes(key_ / "Entry0"), FormatAccount(b));
    // "Entry01" is number 1, past the count, and goes like Entry1 and Entry2.
    std::vector<std::string> left = Unexpected({"Version", "Account", "Entry0"});
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Entry", "Entry1x", "rules"}));
    EXPECT_EQ(LoadSettings(), std::vector<Account>{Named("b", 1)});

    // No accounts left: every entry goes.
    ASSERT_TRUE(SaveSettings({}));
    EXPECT_FALSE(fs::exists(key_ / "Entry0"));
    EXPECT_TRUE(fs::exists(key_ / "rules"));
}

TEST_F(SettingsTest, EmptyStoreYieldsNoAccounts) {
    EXPECT_TRUE(LoadSettings().empty());
    EXPECT_TRUE(fs::is_directory(key_));  // opening the key creates it
    ASSERT_TRUE(SaveSettings({}));
    EXPECT_EQ(FileBytes(key_ / "Account"), "0");
    EXPECT_TRUE(LoadSettings().empty());
}

TEST_F(SettingsTest, VersionChoosesTheReader) {
    // The binary form of older settings, laid out by its table.
    std::string legacy;
    auto text = [&](std::string_view t) {
        legacy.append(t);
        legacy.push_back('\0');
    };
    auto number = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) legacy.push_back(static_cast<char>(v >> (8 * i)));
    };
    text("old");
    legacy.push_back('\x01');
    text("pophost");
    number(1110);
    legacy.push_back('\x01');
    text("u");
    text("p");
    number(0x103);
    legacy.append("\x01\x02");
    text("smtphost");
    number(2525);
    legacy.push_back('\x01');
    text("su");
    number(0x11);

    Account fromLegacy = DefaultAccount();
    fromLegacy.name = "old";
    fromLegacy.popServer = "pophost";
    fromLegacy.popPort = 1110;
    fromLegacy.popUser = "u";
    fromLegacy.popPassword = "p";
    fromLegacy.popOptions.FromNumber(0x103);
    fromLegacy.smtpServer = "smtphost";
    fromLegacy.smtpPort = 2525;
    fromLegacy.smtpUser = "su";
    fromLegacy.smtpOptions.FromNumber(0x11);

    const std::string textForm = FormatAccount(Named("new", 4));
    Account textFormRead = Named("new", 4);

    const struct {
        const char* version;  // nullptr: no "Version" value
        bool textReader;
    } cases[] = {{"0.33", true}, {"1.0", true}, {"0.32", true},   {"0.31", false},
                 {"0.9", false}, {"", false},   {nullptr, false}, {"junk", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version ? c.version : "(missing)");
        fs::remove_all(key_);
        Store({{"Account", "1"}, {"Entry0", c.textReader ? textForm : legacy}});
        if (c.version) WriteFile(key_ / "Version", c.version);
        EXPECT_EQ(LoadSettings(), std::vector<Account>{c.textReader ? textFormRead : fromLegacy});
    }

    // After a save the older settings are in the text form.
    fs::remove_all(key_);
    Store({{"Version", "0.31"}, {"Account", "1"}, {"Entry0", legacy}});
    ASSERT_TRUE(SaveSettings(LoadSettings()));
    EXPECT_EQ(FileBytes(key_ / "Version"), "0.33");
    // The text form, followed by the id the load gave the account.
    const std::string written = FormatAccount(fromLegacy);
    const std::string stored = FileBytes(key_ / "Entry0");
    EXPECT_EQ(stored.substr(0, written.size() - 1), written.substr(0, written.size() - 1));
    EXPECT_EQ(stored.substr(written.size() - 1, 4), ",id=");
    EXPECT_EQ(LoadSettings(), std::vector<Account>{fromLegacy});
}

// An upgrade whose save stopped half way: "Version" is still the older one
// but the first entry is already in the text form. Neither entry may lose
// its fields, or the next save would store the loss.
TEST_F(SettingsTest, InterruptedUpgradeKeepsBothForms) {
    const std::string legacy(
        "old\0\x01pop.example.jp\0\x6e\0\0\0\x01u\0pw\0\x65\0\0\0\0\0"
        "smtp.example.jp\0\x19\0\0\0\x01s\0\x13\0\0\0",
        63);
    Account fromLegacy = DefaultAccount();
    ParseLegacyAccount(legacy, fromLegacy);
    ASSERT_EQ(fromLegacy.popServer, "pop.example.jp");
    ASSERT_EQ(fromLegacy.smtpUser, "s");

    const Account converted = Named("converted", 3);
    Store({{"Version", "0.31"}, {"Account", "2"}, {"Entry0", FormatAccount(converted)}, {"Entry1", legacy}});
    EXPECT_EQ(LoadSettings(), (std::vector<Account>{converted, fromLegacy}));
}

// Extension fields after EOD: an older program's reader stops before them;
// this one keeps them whichever reader the version picks, and a save
// writes unknown names back unchanged.
TEST_F(SettingsTest, ExtensionFieldsAreKeptAndEveryAccountHasAnId) {
    Account extended = Named("ext", 5);
    extended.otherFields = {"later=1%2C2", "odd"};
    const std::string entry = FormatAccount(extended);
    ASSERT_NE(entry.find(",EOD,id=" + extended.id + ",later=1%2C2,odd"), std::string::npos);
    EXPECT_LT(entry.size(), 1024u);
    for (const char* version : {"0.33", "0.31"}) {
        SCOPED_TRACE(version);
        fs::remove_all(key_);
        Store({{"Version", version}, {"Account", "1"}, {"Entry0", entry}});
        const std::vector<Account> loaded = LoadSettings();
        EXPECT_EQ(loaded, std::vector<Account>{extended});
        ASSERT_EQ(loaded.size(), 1u);
        EXPECT_EQ(loaded[0].id, extended.id);
        ASSERT_TRUE(SaveSettings(loaded));
        EXPECT_EQ(FileBytes(key_ / "Entry0"), entry);
    }

    // An older store has no ids: each account gets its own at once, and the
    // next save keeps it.
    Account plain = Named("plain", 6);
    plain.id.clear();
    fs::remove_all(key_);
    Store({{"Version", "0.33"}, {"Account", "3"}, {"Entry0", FormatAccount(plain)}, {"Entry1", FormatAccount(plain)}});
    const std::vector<Account> loaded = LoadSettings();
    ASSERT_EQ(loaded.size(), 3u);
    for (const Account& a : loaded) EXPECT_TRUE(IsAccountId(a.id)) << a.id;
    EXPECT_NE(loaded[0].id, loaded[1].id);  // two accounts on one mailbox still differ
    EXPECT_NE(loaded[1].id, loaded[2].id);
    ASSERT_TRUE(SaveSettings(loaded));
    const std::vector<Account> again = LoadSettings();
    ASSERT_EQ(again.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(again[i].id, loaded[i].id);
}

TEST_F(SettingsTest, BinaryEntryCutInTheMiddleOfAField) {
    std::string legacy("cut\0\x01pophost\0\x6e\x00", 15);  // port cut after 2 of its 4 bytes
    Store({{"Version", "0.31"}, {"Account", "1"}, {"Entry0", legacy}});
    Account expected = DefaultAccount();
    expected.name = "cut";
    expected.popServer = "pophost";
    EXPECT_EQ(LoadSettings(), std::vector<Account>{expected});
}

TEST_F(SettingsTest, AccountCount) {
    const std::string entry = FormatAccount(Named("a", 0));
    const struct {
        const char* count;  // nullptr: no "Account" value
        std::size_t expected;
    } cases[] = {{nullptr, 0},
                 {"", 0},
                 {"abc", 0},
                 {"-3", 0},
                 {"0", 0},
                 {"1", 1},
                 {" 1", 1},
                 {"1x", 1},
                 {"1\0"
                  "5",
                  1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count ? c.count : "(missing)");
        fs::remove_all(key_);
        Store({{"Version", "0.33"}, {"Entry0", entry}});
        if (c.count) WriteFile(key_ / "Account", c.count);
        EXPECT_EQ(LoadSettings().size(), c.expected);
    }
    // A corrupt huge count is bounded instead of exhausting memory.
    fs::remove_all(key_);
    Store({{"Version", "0.33"}, {"Account", "4000000000"}, {"Entry0", entry}});
    const std::vector<Account> many = LoadSettings();
    ASSERT_EQ(many.size(), kMaxStoredAccounts);
    EXPECT_EQ(many[0], Named("a", 0));
    EXPECT_EQ(many.back(), DefaultAccount());
}

TEST_F(SettingsTest, MissingOrUnreadableEntryIsADefaultAccountWithNoName) {
    Store({{"Version", "0.33"},
           {"Account", "4"},
           {"Entry0", FormatAccount(Named("a", 0))},
           {"Entry2", FormatAccount(Named("c", 2))}});
    fs::create_directory(key_ / "Entry3");  // not a regular file
    const std::vector<Account> loaded = LoadSettings();
    ASSERT_EQ(loaded.size(), 4u);
    EXPECT_EQ(loaded[0], Named("a", 0));
    EXPECT_EQ(loaded[1], DefaultAccount());  // not a copy of Entry0
    EXPECT_EQ(loaded[2], Named("c", 2));
    EXPECT_EQ(loaded[3], DefaultAccount());
}

TEST_F(SettingsTest, EntryOf100KilobytesLoadsWhole) {
    Account big = Named("big", 7);
    big.popServer.assign(100 * 1024, 'h');
    big.popPassword.assign(3000, '\x82');
    ASSERT_TRUE(SaveSettings({big, Named("after", 8)}));
    EXPECT_GT(fs::file_size(key_ / "Entry0"), 100u * 1024);
    EXPECT_EQ(LoadSettings(), (std::vector<Account>{big, Named("after", 8)}));
}

TEST_F(SettingsTest, StoreThatCannotBeCreated) {
    WriteFile(root_ / "plainfile", "x");
    ::setenv("XDG_CONFIG_HOME", (root_ / "plainfile" / "config").c_str(), 1);
    EXPECT_TRUE(LoadSettings().empty());
    EXPECT_FALSE(SaveSettings({Named("a", 0)}));
    EXPECT_EQ(FileBytes(root_ / "plainfile"), "x");
}

// The rename of Entry2 fails (injected): the entries before it are new,
// the rest and the count are old, and every file is whole.
TEST_F(SettingsTest, InterruptedSaveLeavesEachEntryOldOrNew) {
    const std::vector<Account> before = {Named("a", 0), Named("b", 1), Named("c", 2)};
    const std::vector<Account> after = {Named("A", 10), Named("B", 11), Named("C", 12), Named("D", 13)};
    ASSERT_TRUE(SaveSettings(before));

    SettingsStore failing([](UserStore::Step step, std::string_view name) {
        return step == UserStore::Step::Rename && name == "Entry2" ? EIO : 0;
    });
    EXPECT_FALSE(SaveSettings(after, failing));

    EXPECT_EQ(FileBytes(key_ / "Account"), "3");
    EXPECT_EQ(FileBytes(key_ / "Entry0"), FormatAccount(after[0]));
    EXPECT_EQ(FileBytes(key_ / "Entry1"), FormatAccount(after[1]));
    EXPECT_EQ(FileBytes(key_ / "Entry2"), FormatAccount(before[2]));
    EXPECT_FALSE(fs::exists(key_ / "Entry3"));
    EXPECT_TRUE(Unexpected({"Version", "Account", "Entry0", "Entry1", "Entry2"}).empty());
    EXPECT_EQ(LoadSettings(), (std::vector<Account>{after[0], after[1], before[2]}));

    // A save that fails at its first value changes nothing at all.
    SettingsStore failFirst([](UserStore::Step step, std::string_view name) {
        return step == UserStore::Step::Write && name == "Version" ? ENOSPC : 0;
    });
    EXPECT_FALSE(SaveSettings(before, failFirst));
    EXPECT_EQ(LoadSettings(), (std::vector<Account>{after[0], after[1], before[2]}));
}

// The same with a failure root cannot override: a directory stands at the
// name Entry1, so renaming the new entry over it fails.
TEST_F(SettingsTest, InterruptedSaveOnARealRenameFailure) {
    ASSERT_TRUE(SaveSettings({Named("a", 0)}));
    fs::create_directory(key_ / "Entry1");
    EXPECT_FALSE(SaveSettings({Named("A", 10), Named("B", 11), Named("C", 12)}));
    EXPECT_EQ(FileBytes(key_ / "Account"), "1");
    EXPECT_FALSE(fs::exists(key_ / "Entry2"));
    EXPECT_TRUE(Unexpected({"Version", "Account", "Entry0", "Entry1"}).empty());
    EXPECT_EQ(LoadSettings(), std::vector<Account>{Named("A", 10)});
}

TEST_F(SettingsTest, StoreReadsAndWritesValues) {
    SettingsStore store;
    EXPECT_EQ(store.ReadText("Version"), "");  // no key open
    EXPECT_FALSE(store.WriteText("Version", "0.33"));
    ASSERT_TRUE(store.OpenKey(kSettingsKeyPath));
    EXPECT_FALSE(store.OpenKey(kSettingsKeyPath));
    ASSERT_TRUE(store.WriteBytes("Entry0", "ab\0cd", 5));
    EXPECT_EQ(store.ReadText("Entry0"), "ab");
    EXPECT_EQ(store.ReadBytes("Entry0"), std::string("ab\0cd", 5));

    char buffer[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    ASSERT_TRUE(store.ReadBytes("Entry0", buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer, 6), std::string("ab\0cd\0", 6));
    char small[5] = {'x', 'x', 'x', 'x', 'x'};  // no room for the added NUL
    EXPECT_FALSE(store.ReadBytes("Entry0", small, sizeof small));
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(small[4], 'x');
    EXPECT_FALSE(store.ReadBytes("Missing", buffer, sizeof buffer));
    EXPECT_FALSE(store.ReadBytes("Entry0", nullptr, 0));
    store.CloseKey();
    EXPECT_EQ(store.ReadBytes("Entry0"), std::nullopt);
}

}  // namespace
