#include "accounts/settings_store.h"

#include <algorithm>
#include <cstring>

bool SettingsStore::OpenKey(std::string_view path) {
    return store_.Open(path);
}

void SettingsStore::CloseKey() {
    store_.Close();
}

std::string SettingsStore::ReadText(std::string_view name) const {
    std::optional<std::string> value = store_.Read(name);
    if (!value) return {};
    value->resize(std::min(value->size(), value->find('\0')));
    return std::move(*value);
}

std::optional<std::string> SettingsStore::ReadBytes(std::string_view name) const {
    return store_.Read(name);
}

bool SettingsStore::ReadBytes(std::string_view name, char* buffer, std::size_t size) const {
    if (buffer == nullptr || size == 0) return false;
    buffer[0] = '\0';
    const std::optional<std::string> value = store_.Read(name);
    if (!value || value->size() >= size) return false;
    std::memcpy(buffer, value->data(), value->size());
    buffer[value->size()] = '\0';
    return true;
}

bool SettingsStore::WriteText(std::string_view name, std::string_view text) {
    return store_.Write(name, text);
}

bool SettingsStore::WriteBytes(std::string_view name, const char* bytes, std::size_t length) {
    if (bytes == nullptr && length != 0) return false;
    return store_.Write(name, std::string_view(bytes == nullptr ? "" : bytes, length));
}

std::vector<std::string> SettingsStore::ValueNames() const {
    return store_.Names();
}

bool SettingsStore::DeleteValue(std::string_view name) {
    return store_.Remove(name);
}
