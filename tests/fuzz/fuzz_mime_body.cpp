// The MIME decoding path (list texts and pane lines) on any reply text: no
// crash, every text valid UTF-8 for the window, output bounded by a small
// multiple of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mime/display_text.h"
#include "platform/charset.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    // Each byte becomes at most one U+FFFD (3 bytes); each part, which
    // costs a few bytes of input, at most one attachment line.
    const std::size_t bound = 64 * size + 4096;
    std::size_t total = 0;
    for (const auto& line : MessagePaneLines(in, true, true)) {
        if (!IsValidUtf8(line)) std::abort();
        total += line.size() + 1;
    }
    const RowTexts row = MailRowTexts(in, true);
    for (const std::string* text : {&row.date, &row.subject, &row.sender}) {
        if (!IsValidUtf8(*text)) std::abort();
        total += text->size();
    }
    if (total > bound) std::abort();
    return 0;
}
