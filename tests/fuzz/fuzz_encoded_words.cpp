// DecodeEncodedWords and DecodeBase64 on any bytes: no crash, bounded
// output, and values without a word left alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mime/encoded_word.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    if (DecodeBase64(in).size() > in.size() / 4 * 3) {
        std::abort();
    }
    std::string value = in;
    DecodeEncodedWords(value);
    // A word never decodes to more bytes than it takes up, and text without
    // the prefix is not touched.
    if (value.size() > in.size()) {
        std::abort();
    }
    if (in.find("=?") == std::string::npos && value != in) {
        std::abort();
    }
    return 0;
}
