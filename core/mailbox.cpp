#include "core/mailbox.h"

#include <algorithm>
#include <limits>

namespace {

std::uint32_t Clipped(std::size_t length) {
    return static_cast<std::uint32_t>(std::min<std::size_t>(length, std::numeric_limits<std::uint32_t>::max()));
}

// Up to and including the first empty line, LF or CR LF; all of it without one.
std::string_view HeaderBlock(std::string_view text) {
    std::size_t end = std::string_view::npos;
    for (std::size_t lf = text.find('\n'); lf != std::string_view::npos; lf = text.find('\n', lf + 1)) {
        if (lf + 1 < text.size() && text[lf + 1] == '\n') {
            end = lf + 2;
            break;
        }
        if (lf + 2 < text.size() && text[lf + 1] == '\r' && text[lf + 2] == '\n') {
            end = lf + 3;
            break;
        }
    }
    return end == std::string_view::npos ? text : text.substr(0, end);
}

}  // namespace

std::string_view Mailbox::UniqueId(std::size_t index) const {
    const Entry& entry = entries_[index];
    return std::string_view(ids_).substr(entry.idAt, entry.idLength);
}

std::string_view Mailbox::Header(std::size_t index) const {
    const Entry& entry = entries_[index];
    return Text(entry, 0, entry.headerLength);
}

std::string_view Mailbox::Date(std::size_t index) const {
    const Entry& entry = entries_[index];
    return Text(entry, entry.headerLength, entry.dateLength);
}

std::string_view Mailbox::Subject(std::size_t index) const {
    const Entry& entry = entries_[index];
    return Text(entry, std::uint64_t{entry.headerLength} + entry.dateLength, entry.subjectLength);
}

std::string_view Mailbox::Sender(std::size_t index) const {
    const Entry& entry = entries_[index];
    return Text(entry, std::uint64_t{entry.headerLength} + entry.dateLength + entry.subjectLength, entry.senderLength);
}

void Mailbox::SetUniqueId(std::size_t index, std::string_view id) {
    if (index >= entries_.size()) return;
    // Unique ids are at most 70 characters; a longer one is cut, not refused.
    id = id.substr(0, std::numeric_limits<std::uint8_t>::max());
    Entry& entry = entries_[index];
    if (id.size() <= entry.idLength) {
        ids_.replace(entry.idAt, id.size(), id);
    } else {
        entry.idAt = Clipped(ids_.size());
        ids_.append(id);
    }
    entry.idLength = static_cast<std::uint8_t>(id.size());
}

std::optional<std::size_t> Mailbox::Find(std::int32_t number) const {
    if (ascending_) {
        auto it = std::lower_bound(entries_.begin(), entries_.end(), number,
                                   [](const Entry& entry, std::int32_t n) { return entry.number < n; });
        if (it != entries_.end() && it->number == number) return static_cast<std::size_t>(it - entries_.begin());
        return std::nullopt;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].number == number) return i;
    return std::nullopt;
}

void Mailbox::Add(const std::vector<Listed>& listed) {
    if (listed.empty()) return;
    const std::size_t first = entries_.size();
    entries_.reserve(first + listed.size());
    for (const Listed& item : listed) {
        if (!entries_.empty() && entries_.back().number >= item.number) ascending_ = false;
        Entry entry;
        entry.number = item.number;
        entry.size = item.size;
        entries_.push_back(entry);
    }
    if (listener_) listener_->EntriesAdded(*this, first, listed.size());
}

void Mailbox::Fill(std::size_t index, std::string_view text, std::string_view date, std::string_view subject,
                   std::string_view sender) {
    if (index >= entries_.size()) return;
    Entry& entry = entries_[index];
    const std::string_view header = HeaderBlock(text);
    deadBytes_ += entry.TextLength();
    entry.at = texts_.size();
    entry.headerLength = Clipped(header.size());
    entry.dateLength = Clipped(date.size());
    entry.subjectLength = Clipped(subject.size());
    entry.senderLength = Clipped(sender.size());
    texts_.append(header.substr(0, entry.headerLength));
    texts_.append(date.substr(0, entry.dateLength));
    texts_.append(subject.substr(0, entry.subjectLength));
    texts_.append(sender.substr(0, entry.senderLength));
    entry.filled = true;
    CompactIfWasteful();
    if (listener_) listener_->EntryFilled(*this, index);
}

void Mailbox::Remove(std::size_t index) {
    if (index >= entries_.size()) return;
    deadBytes_ += entries_[index].TextLength();
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    CompactIfWasteful();
    if (listener_) listener_->EntryRemoved(*this, index);
}

void Mailbox::Clear() {
    entries_.clear();
    texts_.clear();
    texts_.shrink_to_fit();
    ids_.clear();
    ids_.shrink_to_fit();
    deadBytes_ = 0;
    ascending_ = true;
    if (listener_) listener_->EntriesCleared(*this);
}

void Mailbox::CompactIfWasteful() {
    constexpr std::uint64_t kSlack = 1 << 20;
    if (deadBytes_ < kSlack || deadBytes_ * 2 < texts_.size()) return;
    std::string live;
    live.reserve(texts_.size() - deadBytes_);
    for (Entry& entry : entries_) {
        const std::uint64_t length = entry.TextLength();
        const std::uint64_t at = live.size();
        live.append(texts_, entry.at, length);
        entry.at = at;
    }
    texts_ = std::move(live);
    deadBytes_ = 0;
}
