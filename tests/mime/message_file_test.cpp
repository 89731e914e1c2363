#include "mime/message_file.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageFile, RetrReplyToEmlBytes) {
    const struct {
        const char* rest;
        const char* file;
    } cases[] = {
        {" 12 octets\r\nSubject: a\r\n\r\nbody\r\n.\r\n", "Subject: a\r\n\r\nbody\r\n"},
        {" x\r\n..dot\r\n...two\r\n.x\r\n\r\n.\r\n", ".dot\r\n..two\r\n.x\r\n\r\n"},
        {" bare\nA\nB\r\n.\r\n", "A\r\nB\r\n"},
        {" empty\r\n.\r\n", ""},
        {"no line end", ""},
        {" cut short\r\nA\r\nB", "A\r\nB\r\n"},
        {" \r\n\x1b$B$3\x1b(B\r\n\xff\xfe\r\n.\r\n", "\x1b$B$3\x1b(B\r\n\xff\xfe\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(MessageFileBytes(c.rest), c.file) << c.rest;
}

TEST(MessageFile, AttachmentNamesStayInTheirDirectory) {
    const struct {
        const char* name;
        const char* safe;
    } cases[] = {
        {"../../.bashrc", "bashrc"},    {"", "attachment"},        {"..", "attachment"},
        {"C:\\tmp\\a.txt", "a.txt"},    {"/etc/passwd", "passwd"}, {"a\x01\tb\x7f.pdf", "ab.pdf"},
        {" 見積書.pdf ", "見積書.pdf"}, {"dir/", "attachment"},    {"report.tar.gz", "report.tar.gz"},
    };
    for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.name), c.safe) << c.name;
}

}  // namespace
