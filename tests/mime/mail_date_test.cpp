#include "mime/mail_date.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Seconds since the epoch of a UTC time, by the C library.
std::int64_t Utc(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<std::int64_t>(::timegm(&tm));
}

TEST(MailDate, FormsThatParse) {
    const std::int64_t at = Utc(2026, 12, 7, 0, 12, 34);  // 09:12:34 in Japan
    const struct {
        const char* text;
        std::int64_t expected;
    } cases[] = {
        {"Mon, 7 Dec 2026 09:12:34 +0900", at},
        {"7 Dec 2026 09:12:34 +0900", at},
        {"Mon, 07 Dec 2026 09:12 +0900", at - 34},
        {"  mon ,  07   dec\r\n 2026  09 : 12 : 34   +0900  ", at},
        {"Mon, 7 Dec 2026 09:12:34 +0900 (JST)", at},
        {"(sent) Mon, (a (nested \\) one)) 7 Dec 2026 09:12:34 +0900", at},
        {"Mon, 7 Dec 26 09:12:34 +0900", at},
        {"7 Dec 126 09:12:34 +0900", at},
        {"1 Jan 00 00:00 +0000", Utc(2000, 1, 1, 0, 0)},
        {"1 Jan 49 00:00 +0000", Utc(2049, 1, 1, 0, 0)},
        {"1 Jan 50 00:00 +0000", Utc(1950, 1, 1, 0, 0)},
        {"1 Jan 99 00:00 +0000", Utc(1999, 1, 1, 0, 0)},
        {"29 Feb 2024 23:59:60 -0000", Utc(2024, 3, 1, 0, 0)},
        {"7 Dec 2026 12:00 +0530", Utc(2026, 12, 7, 6, 30)},
        {"7 Dec 2026 12:00 UT", Utc(2026, 12, 7, 12, 0)},
        {"7 Dec 2026 12:00 GMT", Utc(2026, 12, 7, 12, 0)},
        {"7 Dec 2026 12:00 EST", Utc(2026, 12, 7, 17, 0)},
        {"7 Dec 2026 12:00 EDT", Utc(2026, 12, 7, 16, 0)},
        {"7 Dec 2026 12:00 CST", Utc(2026, 12, 7, 18, 0)},
        {"7 Dec 2026 12:00 CDT", Utc(2026, 12, 7, 17, 0)},
        {"7 Dec 2026 12:00 MST", Utc(2026, 12, 7, 19, 0)},
        {"7 Dec 2026 12:00 MDT", Utc(2026, 12, 7, 18, 0)},
        {"7 Dec 2026 12:00 PST", Utc(2026, 12, 7, 20, 0)},
        {"7 Dec 2026 12:00 PDT", Utc(2026, 12, 7, 19, 0)},
        {"7 Dec 2026 12:00 jst", Utc(2026, 12, 7, 3, 0)},
    };
    for (const auto& c : cases) {
        const std::optional<std::int64_t> parsed = ParseMailDate(c.text);
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_EQ(*parsed, c.expected) << c.text;
    }
}

TEST(MailDate, TextsThatDoNotParse) {
    for (const char* text :
         {"", "昨日", "Mon, 7 Dec 2026 09:12:34 XYZ", "Mon, 7 Dec 2026 25:00 +0900", "Mon, 7 Dec 2026 09:60 +0900",
          "31 Nov 2026 09:12 +0900", "29 Feb 2026 09:12 +0900", "0 Dec 2026 09:12 +0900",
          "Mon, 7 Dec 2026 09:12:34 +0900 later", "Mon, 7 Dec 2026 09:12", "Mon, 7 Dec 2026 09:12 +09",
          "Mon, 7 Dec 2026 09:12 +0960", "Mon, 7 Dez 2026 09:12 +0900", "Mon 7 Dec 2026 09:12 +0900",
          "Xyz, 7 Dec 2026 09:12 +0900", "7 Dec 1899 09:12 +0900", "7 Dec 2026 09:12 +0900 (open"})
        EXPECT_FALSE(ParseMailDate(text).has_value()) << text;
}

TEST(MailDate, LocalTextAndASortAcrossZones) {
    const char* saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    EXPECT_EQ(LocalDateText(Utc(2026, 12, 7, 0, 12, 34)), "2026/12/07 09:12");
    EXPECT_EQ(LocalDateText(Utc(1999, 12, 31, 15, 0)), "2000/01/01 00:00");
    saved ? ::setenv("TZ", before.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();

    // As text the Mon dates would come first; as points in time the Tue one
    // (23:00 UTC the day before) does. Texts that do not parse go last, in
    // the order they had.
    std::vector<std::string> dates = {"Mon, 7 Dec 2026 18:30:00 -0500", "bad 1",
                                      "Mon, 7 Dec 2026 23:15:00 GMT",   "bad 2",
                                      "Mon, 7 Dec 2026 15:10 PST",      "Tue, 8 Dec 2026 08:00:00 +0900"};
    std::stable_sort(dates.begin(), dates.end(),
                     [](const std::string& a, const std::string& b) { return CompareMailDates(a, b) < 0; });
    EXPECT_EQ(dates, (std::vector<std::string>{"Tue, 8 Dec 2026 08:00:00 +0900", "Mon, 7 Dec 2026 15:10 PST",
                                               "Mon, 7 Dec 2026 23:15:00 GMT", "Mon, 7 Dec 2026 18:30:00 -0500",
                                               "bad 1", "bad 2"}));
}

}  // namespace
