#include "mime/mail_date.h"

#include <array>
#include <cctype>
#include <ctime>

namespace {

// The value with its comments (nested, with quoted pairs) turned into
// spaces; nothing when a comment is not closed.
std::optional<std::string> WithoutComments(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    int depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (depth > 0) {
            if (c == '\\') {
                ++i;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                out += ' ';
            }
            continue;
        }
        if (c == '(') {
            depth = 1;
        } else {
            out += c;
        }
    }
    if (depth > 0) return std::nullopt;
    return out;
}

class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    void SkipSpace() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n'))
            ++pos_;
    }
    bool AtEnd() {
        SkipSpace();
        return pos_ == text_.size();
    }
    // Letters only, as they stand.
    std::string Word() {
        SkipSpace();
        std::string word;
        while (pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_])))
            word += static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_++])));
        return word;
    }
    // 1 to maxDigits digits; -1 when there are none or more.
    int Number(int& digits, int maxDigits) {
        SkipSpace();
        int value = 0;
        digits = 0;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
            if (++digits > maxDigits) return -1;
            value = value * 10 + (text_[pos_++] - '0');
        }
        return digits == 0 ? -1 : value;
    }
    bool Take(char c) {
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool PeekAlpha() {
        SkipSpace();
        return pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_]));
    }
    char Peek() {
        SkipSpace();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

constexpr std::array<const char*, 7> kDays = {"MON", "TUE", "WED", "THU", "FRI", "SAT", "SUN"};
constexpr std::array<const char*, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                 "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDaysIn[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDaysIn[month - 1];
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day) {
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int mp = (month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

// Minutes east of UTC for a zone name, or nothing.
std::optional<int> NamedZone(const std::string& name) {
    static constexpr struct {
        const char* name;
        int minutes;
    } kZones[] = {{"UT", 0},        {"GMT", 0},       {"EST", -5 * 60}, {"EDT", -4 * 60},
                  {"CST", -6 * 60}, {"CDT", -5 * 60}, {"MST", -7 * 60}, {"MDT", -6 * 60},
                  {"PST", -8 * 60}, {"PDT", -7 * 60}, {"JST", 9 * 60}};
    for (const auto& zone : kZones)
        if (name == zone.name) return zone.minutes;
    return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> ParseMailDate(std::string_view text) {
    const std::optional<std::string> plain = WithoutComments(text);
    if (!plain) return std::nullopt;
    Cursor in(*plain);

    if (in.PeekAlpha()) {
        const std::string day = in.Word();
        bool known = false;
        for (const char* name : kDays) known = known || day == name;
        if (!known || !in.Take(',')) return std::nullopt;
    }
    int digits = 0;
    const int day = in.Number(digits, 2);
    if (day < 1) return std::nullopt;
    const std::string monthName = in.Word();
    int month = 0;
    for (int m = 0; m < 12; ++m)
        if (monthName == kMonths[static_cast<std::size_t>(m)]) month = m + 1;
    if (month == 0) return std::nullopt;
    int year = in.Number(digits, 4);
    if (year < 0) return std::nullopt;
    if (digits == 2) {
        year += year < 50 ? 2000 : 1900;
    } else if (digits == 3) {
        year += 1900;
    } else if (digits != 4 || year < 1900) {
        return std::nullopt;
    }
    if (day > DaysInMonth(year, month)) return std::nullopt;

    const int hour = in.Number(digits, 2);
    if (hour < 0 || hour > 23 || !in.Take(':')) return std::nullopt;
    const int minute = in.Number(digits, 2);
    if (minute < 0 || minute > 59) return std::nullopt;
    int second = 0;
    if (in.Take(':')) {
        second = in.Number(digits, 2);
        if (second < 0 || second > 60) return std::nullopt;  // 60: a leap second
    }

    int offset = 0;
    const char sign = in.Peek();
    if (sign == '+' || sign == '-') {
        in.Take(sign);
        const int hhmm = in.Number(digits, 4);
        if (hhmm < 0 || digits != 4 || hhmm % 100 > 59) return std::nullopt;
        offset = (hhmm / 100 * 60 + hhmm % 100) * (sign == '-' ? -1 : 1);
    } else {
        const std::optional<int> named = NamedZone(in.Word());
        if (!named) return std::nullopt;
        offset = *named;
    }
    if (!in.AtEnd()) return std::nullopt;

    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second -
           static_cast<std::int64_t>(offset) * 60;
}

std::string LocalDateText(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!::localtime_r(&t, &local)) return {};
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%Y/%m/%d %H:%M", &local);
    return std::string(text, n);
}

int CompareMailDates(std::string_view a, std::string_view b) {
    const std::optional<std::int64_t> x = ParseMailDate(a);
    const std::optional<std::int64_t> y = ParseMailDate(b);
    if (x && y) return *x < *y ? -1 : (*x > *y ? 1 : 0);
    if (x) return -1;
    if (y) return 1;
    return 0;
}
