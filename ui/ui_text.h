#pragma once

#include <QString>

#include <string_view>

// The window's one way in for the texts catalogue's UTF-8.
inline QString Text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
