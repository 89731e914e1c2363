#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Mailbox;

// The bits of Mailbox::Flags the program uses.
enum MailMark : std::uint8_t {
    kMarkNew = 0x01,     // the unique id was not among those seen at the last check
    kMarkJunk = 0x02,    // a junk rule matched (and no friend rule); JunkRule names it
    kMarkFriend = 0x04,  // a friend rule matched
};

// Told of every change to a mailbox, after it was made.
class MailboxListener {
public:
    virtual ~MailboxListener() = default;
    // Entries first .. first + count - 1 were appended.
    virtual void EntriesAdded(const Mailbox& box, std::size_t first, std::size_t count) = 0;
    // The header and display texts of one entry were set.
    virtual void EntryFilled(const Mailbox& box, std::size_t index) = 0;
    // The entry at index left; the ones after it moved up by one.
    virtual void EntryRemoved(const Mailbox& box, std::size_t index) = 0;
    virtual void EntriesCleared(const Mailbox& box) = 0;
    // The marks (Flags, JunkRule) of entries first .. first + count - 1
    // changed. Setting marks is silent; whoever sets them calls NotifyMarked.
    virtual void EntriesMarked(const Mailbox& /*box*/, std::size_t /*first*/, std::size_t /*count*/) {}
};

// The messages of one POP3 connection in listing order: number and size
// from LIST, a unique id once one is known, and once filled the header
// text it was filled from with the list's display texts. All texts of all
// entries share one buffer, so a box of 100,000 messages costs one entry
// record each plus the bytes themselves.
class Mailbox {
public:
    struct Listed {
        std::int32_t number = 0;
        std::int32_t size = 0;
    };

    explicit Mailbox(MailboxListener* listener = nullptr) : listener_(listener) {}

    void SetListener(MailboxListener* listener) { listener_ = listener; }

    std::size_t Count() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }

    std::int32_t Number(std::size_t index) const { return entries_[index].number; }
    std::int32_t Size(std::size_t index) const { return entries_[index].size; }
    bool Filled(std::size_t index) const { return entries_[index].filled; }
    // Empty until a unique id is set.
    std::string_view UniqueId(std::size_t index) const;
    // The reply text an entry was last filled from, up to the end of its
    // header block; empty while not filled.
    std::string_view Header(std::size_t index) const;
    std::string_view Date(std::size_t index) const;
    std::string_view Subject(std::size_t index) const;
    std::string_view Sender(std::size_t index) const;

    // Per-message marks; the box gives the bits no meaning.
    std::uint8_t Flags(std::size_t index) const { return entries_[index].flags; }
    void SetFlags(std::size_t index, std::uint8_t flags) { entries_[index].flags = flags; }
    void SetUniqueId(std::size_t index, std::string_view id);
    // The index in the rule list of the junk rule that matched, or kNoRule.
    static constexpr std::uint32_t kNoRule = 0xFFFFFFFF;
    std::uint32_t JunkRule(std::size_t index) const { return entries_[index].junkRule; }
    void SetJunkRule(std::size_t index, std::uint32_t rule) { entries_[index].junkRule = rule; }

    void NotifyMarked(std::size_t first, std::size_t count) const {
        if (listener_ && count > 0) listener_->EntriesMarked(*this, first, count);
    }

    // The index of the entry with this number.
    std::optional<std::size_t> Find(std::int32_t number) const;

    void Add(const std::vector<Listed>& listed);
    // Keeps text up to the end of its header block (the first empty line)
    // and the display texts made from it. An index past the end is ignored.
    void Fill(std::size_t index, std::string_view text, std::string_view date, std::string_view subject,
              std::string_view sender);
    void Remove(std::size_t index);
    void Clear();

    // Bytes held for texts, live and not yet reclaimed: for tests and benches.
    std::size_t TextBytes() const { return texts_.size() + ids_.size(); }

private:
    struct Entry {
        std::int32_t number = 0;
        std::int32_t size = 0;
        std::uint64_t at = 0;  // header, date, subject and sender, one after another
        std::uint32_t headerLength = 0;
        std::uint32_t dateLength = 0;
        std::uint32_t subjectLength = 0;
        std::uint32_t senderLength = 0;
        std::uint32_t idAt = 0;
        std::uint32_t junkRule = kNoRule;
        std::uint8_t idLength = 0;
        std::uint8_t flags = 0;
        bool filled = false;

        std::uint64_t TextLength() const {
            return std::uint64_t{headerLength} + dateLength + subjectLength + senderLength;
        }
    };

    std::string_view Text(const Entry& entry, std::uint64_t offset, std::uint32_t length) const {
        return std::string_view(texts_).substr(entry.at + offset, length);
    }
    // Rewrites the buffer with live texts only, once most of it is dead.
    void CompactIfWasteful();

    MailboxListener* listener_ = nullptr;
    std::vector<Entry> entries_;
    std::string texts_;
    std::string ids_;
    std::uint64_t deadBytes_ = 0;  // of texts_, belonging to no entry
    bool ascending_ = true;        // numbers strictly increase, so Find can halve
};
