#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Date header values as points in time.

// Seconds since 1970-01-01 00:00 UTC of a Date header value: the RFC 5322
// form with or without the weekday and the seconds, with comments and extra
// white space; two-digit years (00-49 are 20xx, 50-99 19xx) and three-digit
// ones (+1900); the zones +hhmm/-hhmm, UT, GMT, the North American names
// and JST (+0900). Nothing when the text is anything else: an unknown zone,
// a day or time that cannot be, trailing words.
std::optional<std::int64_t> ParseMailDate(std::string_view text);

// The point in local time as "yyyy/mm/dd hh:mm", for example "2026/12/07 09:12".
std::string LocalDateText(std::int64_t seconds);

// The date sort on two header values: parsed dates by their point in time,
// before every value that does not parse; two of those compare equal, so a
// stable sort keeps their order. Negative, zero or positive like strcmp.
int CompareMailDates(std::string_view a, std::string_view b);
