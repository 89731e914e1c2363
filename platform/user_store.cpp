#include "platform/user_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include <utility>
#include <vector>

namespace {

constexpr mode_t kDirectoryMode = 0700;

std::string ConfigBase() {
    // XDG: a relative XDG_CONFIG_HOME is invalid and ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.config";
    if (const passwd* entry = getpwuid(getuid());
        entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') {
        return std::string(entry->pw_dir) + "/.config";
    }
    return {};
}

// mkdir -p; existing directories are left as they are. Errors are left to
// the open that follows, which fails when the directory is not there.
void CreateDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        (void)::mkdir(path.substr(0, slash).c_str(), kDirectoryMode);
        if (slash == std::string::npos) return;
    }
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

bool IsValidStoreName(std::string_view name) {
    return !name.empty() && name.front() != '.' && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::string UserStoreDirectory(std::string_view keyPath) {
    std::string directory = ConfigBase();
    if (directory.empty()) return {};
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    for (std::size_t start = 0;;) {
        const std::size_t end = keyPath.find('\\', start);
        const std::string_view part = keyPath.substr(start, end - start);
        if (!IsValidStoreName(part)) return {};
        if (directory != "/") directory += '/';
        directory += part;
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return directory;
}

UserStore::UserStore(FaultHook faults) : faults_(std::move(faults)) {}

UserStore::~UserStore() {
    Close();
}

bool UserStore::Open(std::string_view keyPath) {
    if (IsOpen()) return false;
    std::string directory = UserStoreDirectory(keyPath);
    if (directory.empty()) return false;
    CreateDirectories(directory);
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    // The values hold passwords in clear: keep the directory private even
    // when something else created it.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && (info.st_mode & 077) != 0 && info.st_uid == ::geteuid()) {
        (void)::fchmod(fd, kDirectoryMode);
    }
    dirFd_ = fd;
    directory_ = std::move(directory);
    return true;
}

void UserStore::Close() {
    if (dirFd_ >= 0) ::close(dirFd_);
    dirFd_ = -1;
    directory_.clear();
}

std::optional<std::string> UserStore::Read(std::string_view name) const {
    if (!IsOpen() || !IsValidStoreName(name)) return std::nullopt;
    const std::string fileName(name);
    // O_NONBLOCK: a FIFO at a value's name must not hang the load.
    const int fd = ::openat(dirFd_, fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> value;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) <= kMaxValueSize) {
        std::string bytes;
        bytes.reserve(static_cast<std::size_t>(info.st_size));
        char chunk[65536];
        bool ok = true;
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0) {
                if (errno == EINTR) continue;
                ok = false;
                break;
            }
            if (n == 0) break;
            bytes.append(chunk, static_cast<std::size_t>(n));
            if (bytes.size() > kMaxValueSize) {  // grew while being read
                ok = false;
                break;
            }
        }
        if (ok) value = std::move(bytes);
    }
    ::close(fd);
    return value;
}

bool UserStore::Write(std::string_view name, std::string_view bytes) {
    if (!IsOpen() || !IsValidStoreName(name)) return false;
    const std::string finalPath = directory_ + "/" + std::string(name);
    std::string tempPath = directory_ + "/." + std::string(name) + ".tmpXXXXXX";
    std::vector<char> pattern(tempPath.begin(), tempPath.end());
    pattern.push_back('\0');
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) return false;
    tempPath.assign(pattern.data());

    auto fault = [&](UserStore::Step step) {
        const int error = faults_ ? faults_(step, name) : 0;
        if (error != 0) errno = error;
        return error != 0;
    };
    bool ok = !fault(Step::Write) && WriteAll(fd, bytes);
    ok = ok && !fault(Step::Sync) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && !fault(Step::Rename) && ::rename(tempPath.c_str(), finalPath.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(tempPath.c_str());
        errno = saved;
        return false;
    }
    // Make the rename itself durable before anything counts on it.
    return ::fsync(dirFd_) == 0;
}

std::vector<std::string> UserStore::Names() const {
    std::vector<std::string> names;
    if (!IsOpen()) return names;
    // A descriptor of its own: closedir closes the one it is given.
    const int fd = ::openat(dirFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return names;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (!IsValidStoreName(name)) continue;
        struct stat info {};
        if (::fstatat(dirFd_, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

bool UserStore::Remove(std::string_view name) {
    if (!IsOpen() || !IsValidStoreName(name)) return false;
    const std::string fileName(name);
    if (::unlinkat(dirFd_, fileName.c_str(), 0) != 0 && errno != ENOENT) return false;
    return ::fsync(dirFd_) == 0;
}
