#include "accounts/account.h"

#include <cstdint>

namespace {

// Walks the binary form of older settings. Every read is bounded by the
// stored bytes: a text cut short takes the bytes that are there, a number
// cut short leaves its field as it was, and either ends the reading.
class LegacyReader {
public:
    explicit LegacyReader(std::string_view bytes) : bytes_(bytes) {}

    bool Text(std::string& field) {
        if (at_ >= bytes_.size()) return false;
        const std::size_t end = bytes_.find('\0', at_);
        if (end == std::string_view::npos) {
            field.assign(bytes_.substr(at_));
            at_ = bytes_.size();
            return false;
        }
        field.assign(bytes_.substr(at_, end - at_));
        at_ = end + 1;
        return true;
    }

    bool Number(std::uint32_t& value) {
        if (bytes_.size() - at_ < 4) {
            at_ = bytes_.size();
            return false;
        }
        value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
        }
        at_ += 4;
        return true;
    }

    // Padding bytes; missing ones are not an error, the next read just
    // finds nothing.
    void Skip(std::size_t count) { at_ = bytes_.size() - at_ < count ? bytes_.size() : at_ + count; }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

}  // namespace

void ParseLegacyAccount(std::string_view bytes, Account& account) {
    LegacyReader in(bytes);
    std::uint32_t number = 0;

    if (!in.Text(account.name)) return;
    in.Skip(1);
    if (!in.Text(account.popServer)) return;
    if (!in.Number(number)) return;
    account.popPort = static_cast<std::int32_t>(number);
    in.Skip(1);
    if (!in.Text(account.popUser)) return;
    if (!in.Text(account.popPassword)) return;
    if (!in.Number(number)) return;
    account.popOptions.FromNumber(number);
    in.Skip(2);
    if (!in.Text(account.smtpServer)) return;
    if (!in.Number(number)) return;
    account.smtpPort = static_cast<std::int32_t>(number);
    in.Skip(1);
    if (!in.Text(account.smtpUser)) return;
    if (!in.Number(number)) return;
    account.smtpOptions.FromNumber(number);
}
