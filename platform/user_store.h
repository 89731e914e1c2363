#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The per-user store of named binary values. A key path such as
// "kirabo\Boxsweeper" is the directory
// ${XDG_CONFIG_HOME:-$HOME/.config}/kirabo/Boxsweeper/ (mode 0700), and each
// value is one regular file in it (mode 0600) named exactly as the value,
// holding exactly the value's bytes. Writes are atomic: a hidden temporary
// file in the same directory is written, synced and renamed over the value.
class UserStore {
public:
    // The steps of a write that can fail.
    enum class Step { Write, Sync, Rename };
    // Test seam: called before each step of a write with the value's name;
    // a nonzero result makes that step fail with that errno value.
    using FaultHook = std::function<int(Step, std::string_view name)>;

    // Largest value Read accepts; anything larger reads as missing.
    static constexpr std::size_t kMaxValueSize = 16 * 1024 * 1024;

    explicit UserStore(FaultHook faults = {});
    ~UserStore();
    UserStore(const UserStore&) = delete;
    UserStore& operator=(const UserStore&) = delete;

    // Opens the key's directory, creating it and missing parents (0700).
    // False when a key is already open or the directory is unusable.
    bool Open(std::string_view keyPath);
    void Close();
    bool IsOpen() const { return dirFd_ >= 0; }
    const std::string& Directory() const { return directory_; }

    // The whole value, or nothing when it is missing, not a regular file,
    // unreadable, larger than kMaxValueSize, or the name is not valid.
    std::optional<std::string> Read(std::string_view name) const;
    // Replaces the value atomically; on failure the old value stays as it was.
    bool Write(std::string_view name, std::string_view bytes);
    // The names of the values there are, in no particular order.
    std::vector<std::string> Names() const;
    // Removes the value; true when it is gone (also when it was never there).
    bool Remove(std::string_view name);

private:
    std::string directory_;
    int dirFd_ = -1;
    FaultHook faults_;
};

// Value names and key path parts must be plain file names: not empty, no
// '/' or NUL, and not starting with '.' (which also keeps "." and "..", and
// the store's temporary files, apart from values).
bool IsValidStoreName(std::string_view name);

// The directory a key path maps to, from the environment; empty when no
// configuration base can be found or the path has an invalid part.
std::string UserStoreDirectory(std::string_view keyPath);
