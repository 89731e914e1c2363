#include "mime/log_text.h"

#include "mime/jis.h"
#include "platform/cp932.h"

namespace {

// U+2400 + byte for the C0 controls, U+2421 for DEL; UTF-8.
void AppendMark(std::string& out, unsigned char byte) {
    const unsigned code = byte == 0x7f ? 0x2421 : 0x2400 + byte;
    out += static_cast<char>(0xe0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
}

// Marks for the controls of UTF-8 text; CR LF becomes one line break.
void AppendMarked(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CR LF: one break
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f) {
            AppendMark(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
}

// A run without NUL bytes: JIS decoded, then CP932 to UTF-8, then marks.
// Most entries are plain ASCII (commands, status lines, headers with
// encoded words) and go straight to the marks.
void AppendRun(std::string& out, std::string_view run) {
    bool plain = true;
    for (const char c : run) {
        if (static_cast<unsigned char>(c) >= 0x80 || c == '\x1b') {
            plain = false;
            break;
        }
    }
    if (plain) {
        AppendMarked(out, run);
    } else {
        AppendMarked(out, Cp932ToUtf8(JisToShiftJis(run)));
    }
}

}  // namespace

std::string LogTextForEye(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    // JisToShiftJis stops at a NUL, so each NUL ends a run.
    std::size_t from = 0;
    for (;;) {
        const std::size_t nul = bytes.find('\0', from);
        AppendRun(out, bytes.substr(from, nul == std::string_view::npos ? std::string_view::npos : nul - from));
        if (nul == std::string_view::npos) break;
        AppendMark(out, 0);
        from = nul + 1;
    }
    return out;
}
