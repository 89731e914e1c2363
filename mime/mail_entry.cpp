#include "mime/mail_entry.h"

#include <cstdint>
#include <limits>

#include "mime/parsed_message.h"
#include "platform/locale_compare.h"

void FillMailEntry(MailEntry& row, const std::string& text) {
    ParsedMessage message;
    message.Parse(text);
    while (row.subItems.size() < 4) {
        row.subItems.emplace_back(" ");
    }
    message.GetField("Date", row.subItems[1]);
    message.GetField("Subject", row.subItems[2]);
    message.GetField("From", row.subItems[3]);
}

std::int64_t ListNumberValue(const std::string& text) {
    // Leading white space and a sign are accepted; reading stops at the first
    // non-digit; values beyond the 64-bit range saturate. Text without digits
    // counts as zero, so a bad row sorts predictably instead of failing.
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (kMax - digit) / 10) {
            value = kMax;
            for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            }
            break;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

namespace {

int Sign(std::int64_t a, std::int64_t b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

// Rows lacking the value come first; two rows lacking it are equal.
int CompareMissing(bool aHas, bool bHas) {
    return aHas == bHas ? 0 : aHas ? 1 : -1;
}

}  // namespace

int CompareMailEntries(const MailEntry& a, const MailEntry& b, int sortTag) {
    return CompareMailEntriesWith(a, b, sortTag, LocaleCompare);
}

int CompareMailEntriesWith(const MailEntry& a, const MailEntry& b, int sortTag,
                           int (*compareText)(std::string_view, std::string_view)) {
    switch (sortTag) {
        case 0:
            return Sign(ListNumberValue(a.number), ListNumberValue(b.number));
        case 1: {
            const bool aHas = !a.subItems.empty();
            const bool bHas = !b.subItems.empty();
            if (!aHas || !bHas) {
                return CompareMissing(aHas, bHas);
            }
            return Sign(ListNumberValue(a.subItems[0]), ListNumberValue(b.subItems[0]));
        }
        case 2:
        case 3:
        case 4: {
            const std::size_t index = static_cast<std::size_t>(sortTag - 1);
            const bool aHas = a.subItems.size() > index;
            const bool bHas = b.subItems.size() > index;
            if (!aHas || !bHas) {
                return CompareMissing(aHas, bHas);
            }
            return compareText(a.subItems[index], b.subItems[index]);
        }
        default:
            return 0;
    }
}
