#include "accounts/seen_ids.h"

#include "accounts/account.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

std::string StateBase() {
    // XDG: a relative XDG_STATE_HOME is invalid and ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') return state;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return std::string(home) + "/.local/state";
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir && entry->pw_dir[0] == '/')
        return std::string(entry->pw_dir) + "/.local/state";
    return {};
}

void CreateDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        (void)::mkdir(path.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos) return;
    }
}

std::string Why(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool IsUniqueId(std::string_view text) {
    if (text.empty() || text.size() > 70) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
}

std::string SeenIdsDirectory() {
    std::string base = StateBase();
    if (base.empty()) return {};
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/Boxsweeper/seen";
}

bool SeenIds::Contains(std::string_view id) const {
    return std::binary_search(ids_.begin(), ids_.end(), id);
}

bool SeenIds::Parse(std::string text) {
    text_ = std::move(text);
    ids_.clear();
    const std::string_view all(text_);
    for (std::size_t pos = 0; pos < all.size();) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(pos, end - pos);
        if (line.ends_with('\r')) line.remove_suffix(1);  // edited elsewhere
        pos = end + 1;
        if (line.empty()) continue;
        if (!IsUniqueId(line)) {
            ids_.clear();
            return false;
        }
        ids_.push_back(line);
    }
    std::sort(ids_.begin(), ids_.end());
    return true;
}

SeenIds SeenIds::Read(const std::string& directory, std::string_view accountId, std::string& problem) {
    SeenIds seen;
    problem.clear();
    if (directory.empty()) {
        problem = "no state directory";
        return seen;
    }
    if (!IsAccountId(accountId)) {
        problem = "the account has no id";
        return seen;
    }
    const std::string path = directory + "/" + std::string(accountId);
    // O_NONBLOCK: a FIFO there must not hang the check.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT) problem = Why("cannot open", errno);
        return seen;
    }
    std::string bytes;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        problem = "not a regular file";
    } else if (static_cast<std::uint64_t>(info.st_size) > kMaxFileSize) {
        problem = "too large";
    } else {
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                problem = Why("cannot read", errno);
                break;
            }
            if (n == 0) break;
            bytes.append(chunk, static_cast<std::size_t>(n));
            if (bytes.size() > kMaxFileSize) {
                problem = "too large";
                break;
            }
        }
    }
    ::close(fd);
    if (problem.empty() && !seen.Parse(std::move(bytes))) problem = "not a list of unique ids";
    if (!problem.empty()) seen = SeenIds();
    return seen;
}

bool WriteSeenIds(const std::string& directory, std::string_view accountId, const std::vector<std::string_view>& ids,
                  std::string& problem) {
    problem.clear();
    if (directory.empty()) {
        problem = "no state directory";
        return false;
    }
    if (!IsAccountId(accountId)) {
        problem = "the account has no id";
        return false;
    }
    CreateDirectories(directory);
    const std::string path = directory + "/" + std::string(accountId);
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        // Not ours to delete: kept aside, and the list is written anew.
        if (::rename(path.c_str(), (path + ".unreadable").c_str()) != 0) {
            problem = Why("cannot move aside what stands at " + path, errno);
            return false;
        }
    }
    std::string text;
    for (std::string_view id : ids) {
        if (id.empty()) continue;
        text.append(id);
        text += '\n';
    }
    std::string temp = directory + "/." + std::string(accountId) + ".tmpXXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) {
        problem = Why("cannot create a file in " + directory, errno);
        return false;
    }
    bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        problem = Why("cannot write " + path, errno);
        ::unlink(temp.c_str());
        return false;
    }
    if (const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}
