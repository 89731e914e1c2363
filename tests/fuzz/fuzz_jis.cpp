// JisToShiftJis on any bytes: no crash, no out-of-bounds read, and the
// output never longer than the input up to its first NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "mime/jis.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = in.find('\0');
    const std::size_t limit = nul == std::string_view::npos ? size : nul;
    const std::string out = JisToShiftJis(in);
    if (out.size() > limit || out.find('\0') != std::string::npos) {
        std::abort();
    }
    // Without ESC nothing is converted.
    if (in.substr(0, limit).find('\x1b') == std::string_view::npos && out != in.substr(0, limit)) {
        std::abort();
    }
    return 0;
}
