#pragma once

// The iconv wrapper shared by the platform's text conversions.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

namespace platform_detail {

// One conversion descriptor per thread and direction: iconv_t holds state
// and must not be shared between threads.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    // False when the C library lacks the conversion (no gconv modules).
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts `in` into `out` (bytes). At a byte sequence that cannot be
    // converted, appends `replacement` and skips skip(rest) bytes.
    template <typename Skip>
    void Run(std::string_view in, std::string& out, std::string_view replacement, Skip skip) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        std::size_t used = out.size();
        out.resize(used + in.size() * 4 + 16);
        while (srcLeft > 0) {
            char* dst = out.data() + used;
            std::size_t dstLeft = out.size() - used;
            const std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            used = static_cast<std::size_t>(dst - out.data());
            if (rc != static_cast<std::size_t>(-1)) {
                break;
            }
            if (errno == E2BIG) {
                out.resize(out.size() * 2 + 16);
                continue;
            }
            // EILSEQ or EINVAL (a sequence cut off at the end).
            if (out.size() - used < replacement.size()) {
                out.resize(out.size() * 2 + replacement.size());
            }
            std::memcpy(out.data() + used, replacement.data(), replacement.size());
            used += replacement.size();
            const std::size_t n = skip(std::string_view(src, srcLeft));
            src += n;
            srcLeft -= n;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        out.resize(used);
    }

private:
    iconv_t cd_;
};

}  // namespace platform_detail
