#pragma once

#include "platform/user_store.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The program's one settings key and its named binary values. On this
// platform the key "Software\<path>" of the current user is the per-user
// store directory of <path>; see platform/user_store.h for the layout.
class SettingsStore {
public:
    explicit SettingsStore(UserStore::FaultHook faults = {}) : store_(std::move(faults)) {}

    // Opens (creating when missing) the key; false when one is already
    // open, without touching it, or when it cannot be opened.
    bool OpenKey(std::string_view path);
    void CloseKey();

    // The value's bytes up to its first NUL; empty on any failure.
    std::string ReadText(std::string_view name) const;
    // The whole value; nothing when it cannot be read.
    std::optional<std::string> ReadBytes(std::string_view name) const;
    // Copies the value into buffer and puts a NUL right after it. False,
    // with buffer[0] set to NUL when size allows, on any failure, including
    // a value that does not fit together with its NUL.
    bool ReadBytes(std::string_view name, char* buffer, std::size_t size) const;

    bool WriteText(std::string_view name, std::string_view text);
    bool WriteBytes(std::string_view name, const char* bytes, std::size_t length);

    // The names of the values under the key, in no particular order.
    std::vector<std::string> ValueNames() const;
    // True when the value is gone, also when there was none.
    bool DeleteValue(std::string_view name);

private:
    UserStore store_;
};
