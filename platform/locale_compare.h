#pragma once

#include <locale.h>

#include <string>
#include <string_view>

// Compares two CP932 texts by the collation of a locale, case-sensitively.
// Texts the collation finds equal are ordered by their bytes, so the result
// is a total order fit for sorting (zero only for identical bytes).
class LocaleCollator {
public:
    // `name` as for newlocale(): "" is the user's locale from the
    // environment. A locale that cannot be loaded falls back to "C".
    explicit LocaleCollator(const char* name);
    ~LocaleCollator();
    LocaleCollator(const LocaleCollator&) = delete;
    LocaleCollator& operator=(const LocaleCollator&) = delete;

    // Negative, zero or positive like strcmp. Safe to call from any thread.
    int Compare(std::string_view a, std::string_view b) const;
    // The same order for UTF-8 texts (invalid bytes compare as U+FFFD).
    int CompareUtf8(std::string_view a, std::string_view b) const;
    // The collation key of a UTF-8 text: keys compared as strings give
    // CompareUtf8's order, except that different texts with equal keys are
    // then ordered by their bytes. For sorting many texts: each is
    // converted once instead of at every comparison.
    std::wstring SortKeyUtf8(std::string_view text) const;

    // False when the requested locale was unavailable and "C" is used.
    bool loaded() const { return loaded_; }

private:
    locale_t locale_;
    bool loaded_;
};

// The user's locale (from the environment, read once).
int LocaleCompare(std::string_view a, std::string_view b);
int LocaleCompareUtf8(std::string_view a, std::string_view b);
std::wstring LocaleSortKeyUtf8(std::string_view text);
