#include "core/mail_marks.h"

#include "texts/texts.h"

std::vector<std::int32_t> SweepNumbers(const Mailbox& box) {
    std::vector<std::int32_t> numbers;
    for (std::size_t i = 0; i < box.Count(); ++i) {
        const std::uint8_t flags = box.Flags(i);
        if ((flags & kMarkJunk) && !(flags & kMarkFriend)) numbers.push_back(box.Number(i));
    }
    return numbers;
}

std::string MarkText(std::uint8_t flags, std::string_view junkRuleName) {
    std::string text;
    auto add = [&](std::string_view part, std::string_view more = {}) {
        if (!text.empty()) text += texts::mail_list::kMarkSeparator;
        text += part;
        text += more;
    };
    if (flags & kMarkNew) add(texts::mail_list::kNewMark);
    if (flags & kMarkJunk) add(texts::mail_list::kJunkMark, junkRuleName);
    if (flags & kMarkFriend) add(texts::mail_list::kFriendMark);
    return text;
}
