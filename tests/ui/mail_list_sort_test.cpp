// The mail list's sorts by date, subject and sender give the order that
// comparing the shown rows with CompareDisplayRows gives, equal rows
// keeping their places, whatever order the list was in before.

#include "ui/mail_list.h"

#include "core/mailbox.h"
#include "mime/display_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace {

std::vector<std::int32_t> Numbers(const MailListModel& model) {
    std::vector<std::int32_t> numbers;
    for (int row = 0; row < model.rowCount(); ++row) numbers.push_back(model.NumberAt(row));
    return numbers;
}

// The order a sort by comparing whole rows gives, from the list as it is.
std::vector<std::int32_t> Expected(const MailListModel& model, int sortTag) {
    std::vector<MailEntry> rows;
    for (int row = 0; row < model.rowCount(); ++row) rows.push_back(model.Row(row));
    std::vector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return CompareDisplayRows(rows[static_cast<std::size_t>(a)], rows[static_cast<std::size_t>(b)], sortTag) < 0;
    });
    std::vector<std::int32_t> numbers;
    for (int row : order) numbers.push_back(model.NumberAt(row));
    return numbers;
}

TEST(MailListSort, TextSortsMatchTheRowComparison) {
    struct Filled {
        const char* date;
        const char* subject;
        const char* sender;
    };
    // Rows left unfilled (nullptr) go first; equal texts keep their order;
    // invalid bytes collate alike and are told apart by the bytes.
    const Filled filled[] = {
        {"Tue, 8 Dec 2026", "\xe8\xad\xb0\xe4\xba\x8b\xe9\x8c\xb2", "b@example.jp"},
        {nullptr, nullptr, nullptr},
        {"Mon, 7 Dec 2026", "\xe8\xa6\x8b\xe7\xa9\x8d\xe6\x9b\xb8", "a@example.jp"},
        {"Mon, 7 Dec 2026", "Re: (12)", "B@example.jp"},
        {"", "Re: (112)", ""},
        {"Wed someday", "\xfe", "a@example.jp"},
        {nullptr, nullptr, nullptr},
        {"Mon, 7 Dec 2026", "\xfd", "\xef\xbd\xb1"},
        {"Tue, 8 Dec 2026", "\xe8\xad\xb0\xe4\xba\x8b\xe9\x8c\xb2", "\xe3\x81\x82"},
        {"mon, 7 Dec 2026", "", "a@example.jp"},
    };
    Mailbox box;
    MailListModel model(box);
    std::vector<Mailbox::Listed> listed;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(std::size(filled)); ++i) listed.push_back({i + 1, 100 - i});
    box.Add(listed);
    model.EntriesAdded(0, listed.size());
    for (std::size_t i = 0; i < std::size(filled); ++i) {
        if (!filled[i].date) continue;
        box.Fill(i, "Subject: x\r\n\r\n", filled[i].date, filled[i].subject, filled[i].sender);
        model.EntryFilled(i, false);
    }
    // Each sort starts from the order the one before left.
    for (int tag : {3, 4, 2, 3, 1, 4, 0, 2}) {
        SCOPED_TRACE(tag);
        const std::vector<std::int32_t> expected = Expected(model, tag);
        model.Sort(tag);
        EXPECT_EQ(Numbers(model), expected);
    }
}

}  // namespace
