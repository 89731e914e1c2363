#include "core/session_list.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct ListCase {
    const char* name;
    std::string rest;
    int count;
    std::vector<std::pair<int, int>> entries;
};

std::vector<std::pair<int, int>> Entries(const ScanListing& listing) {
    std::vector<std::pair<int, int>> result;
    for (const auto& e : listing.entries) result.emplace_back(e.number, e.size);
    return result;
}

TEST(SessionList, ReadsCountAndWellFormedLinesOnly) {
    const ListCase cases[] = {
        {"plain", "3 messages:\r\n1 120\r\n2 200\r\n3 5", 3, {{1, 120}, {2, 200}, {3, 5}}},
        {"count zero ignores lines", "0 messages\r\n1 100", 0, {}},
        {"no count", "messages follow\r\n1 100", 0, {}},
        {"empty", "", 0, {}},
        {"count alone", "5", 5, {}},
        {"count not taken from the next line", "\r\n1 100\r\n2 200", 0, {}},
        {"negative count", "-1\r\n1 100", 0, {}},
        {"leading blanks before count", "  2 (320 octets)\r\n1 100\r\n2 220", 2, {{1, 100}, {2, 220}}},
        {"bad lines skipped", "4\r\n1 100\r\nabc\r\n2 x\r\n\r\n3\r\n4 400", 4, {{1, 100}, {4, 400}}},
        {"dot line ends", "2\r\n1 100\r\n.\r\n2 200", 2, {{1, 100}}},
        {"written back plainly", "1\r\n007 0100\r\n", 1, {{7, 100}}},
        {"too large skipped", "2\r\n1 99999999999\r\n2 2147483647", 2, {{2, 2147483647}}},
        {"tabs and trailing words", "1\r\n 1\t100 extra\r\n", 1, {{1, 100}}},
        {"junk glued to size", "2\r\n1 100x\r\n2 -5\r\n", 2, {}},
        {"bare LF lines", "2\n1 10\n2 20\n", 2, {{1, 10}, {2, 20}}},
        {"overlong status line", "2 " + std::string(3000, 'x') + " 9 9\r\n1 10\r\n2 20", 2, {{1, 10}, {2, 20}}},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScanListing listing = ParseScanListing(c.rest);
        EXPECT_EQ(listing.count, c.count);
        EXPECT_EQ(Entries(listing), c.entries);
    }
}

TEST(SessionList, HugeCountSaturates) {
    ScanListing listing = ParseScanListing("123456789012345\r\n1 1");
    EXPECT_EQ(listing.count, 2147483647);
    EXPECT_EQ(Entries(listing), (std::vector<std::pair<int, int>>{{1, 1}}));
}

}  // namespace
