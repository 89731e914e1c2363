#pragma once

#include "accounts/account.h"

#include <ostream>

// Readable test failures: an account as its stored text form.
inline void PrintTo(const Account& account, std::ostream* out) {
    const std::string text = FormatAccount(account);
    *out << '"' << std::string_view(text).substr(0, 200) << (text.size() > 200 ? "...\"" : "\"") << " password \""
         << account.popPassword.substr(0, 40) << '"';
}
