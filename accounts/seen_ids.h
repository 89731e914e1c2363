#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The unique ids (UIDL) an account's last complete check listed, so the
// next check can tell which messages are new. One file per account, named
// after the account's id, in SeenIdsDirectory(): UTF-8 text, one id a line,
// mode 0600, replaced atomically.
class SeenIds {
public:
    // Largest file Read takes; a larger one counts as corrupt.
    static constexpr std::size_t kMaxFileSize = 64 * 1024 * 1024;

    bool Contains(std::string_view id) const;
    std::size_t Count() const { return ids_.size(); }

    // Reads the account's file. A missing file is an empty set and no
    // problem; a file that cannot be read or does not hold ids (a
    // directory, binary bytes, an overlong line) is an empty set too, and
    // problem says why, for the log.
    static SeenIds Read(const std::string& directory, std::string_view accountId, std::string& problem);
    // Parses the text of a file; false when it is not a list of ids.
    bool Parse(std::string text);

private:
    std::string text_;                   // the file's bytes
    std::vector<std::string_view> ids_;  // into text_, sorted
};

// Whether text is an id as RFC 1939 allows: 1 to 70 characters 0x21-0x7E.
bool IsUniqueId(std::string_view text);

// ${XDG_STATE_HOME:-$HOME/.local/state}/Boxsweeper/seen; empty when there
// is no usable base.
std::string SeenIdsDirectory();

// Replaces the account's file with exactly these ids, one a line (empty ids
// are left out), creating the directory (0700) when needed. Whatever stands
// at the file's name that is not a regular file (a directory) is moved
// aside to "<name>.unreadable" first. False with problem set when it could
// not; the old file then stays as it was.
bool WriteSeenIds(const std::string& directory, std::string_view accountId, const std::vector<std::string_view>& ids,
                  std::string& problem);
