#include "platform/locale_compare.h"

#include <cwchar>

#include "platform/charset.h"
#include "platform/cp932.h"

LocaleCollator::LocaleCollator(const char* name)
    : locale_(newlocale(LC_COLLATE_MASK, name, static_cast<locale_t>(0))),
      loaded_(locale_ != static_cast<locale_t>(0)) {
    if (!loaded_) {
        locale_ = newlocale(LC_COLLATE_MASK, "C", static_cast<locale_t>(0));
    }
}

LocaleCollator::~LocaleCollator() {
    if (locale_ != static_cast<locale_t>(0)) {
        freelocale(locale_);
    }
}

int LocaleCollator::Compare(std::string_view a, std::string_view b) const {
    if (a == b) {
        return 0;
    }
    const std::wstring wa = Cp932ToWide(a);
    const std::wstring wb = Cp932ToWide(b);
    const int r = wcscoll_l(wa.c_str(), wb.c_str(), locale_);
    if (r != 0) {
        return r < 0 ? -1 : 1;
    }
    return a < b ? -1 : 1;
}

int LocaleCollator::CompareUtf8(std::string_view a, std::string_view b) const {
    if (a == b) {
        return 0;
    }
    const std::wstring wa = Utf8ToWide(a);
    const std::wstring wb = Utf8ToWide(b);
    const int r = wcscoll_l(wa.c_str(), wb.c_str(), locale_);
    if (r != 0) {
        return r < 0 ? -1 : 1;
    }
    return a < b ? -1 : 1;
}

std::wstring LocaleCollator::SortKeyUtf8(std::string_view text) const {
    // Up to the first NUL, like the comparison, which passes C strings.
    const std::wstring wide = Utf8ToWide(text);
    std::wstring key(wide.size() + 1, L'\0');
    for (;;) {
        const std::size_t length = wcsxfrm_l(key.data(), wide.c_str(), key.size(), locale_);
        if (length < key.size()) {
            key.resize(length);
            return key;
        }
        key.assign(length + 1, L'\0');
    }
}

namespace {

const LocaleCollator& UserCollator() {
    static const LocaleCollator collator("");
    return collator;
}

}  // namespace

int LocaleCompare(std::string_view a, std::string_view b) {
    return UserCollator().Compare(a, b);
}

int LocaleCompareUtf8(std::string_view a, std::string_view b) {
    return UserCollator().CompareUtf8(a, b);
}

std::wstring LocaleSortKeyUtf8(std::string_view text) {
    return UserCollator().SortKeyUtf8(text);
}
