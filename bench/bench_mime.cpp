// Throughput of the Japanese text path: JisToShiftJis against glibc iconv
// on the same 20 MB of ISO-2022-JP text, and the time to fill list rows
// from 10,000 realistic headers.
#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "mime/encoded_word.h"
#include "mime/jis.h"
#include "mime/mail_entry.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// Mail-like text: lines of kana and kanji with ASCII between them.
std::string MakeJisText(std::size_t bytes)
{
    std::string text;
    text.reserve(bytes + 256);
    unsigned seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    while (text.size() < bytes) {
        text += "\x1b$B";
        const int pairs = 10 + static_cast<int>(next() % 25);
        for (int k = 0; k < pairs; ++k) {
            const unsigned r = next() % 100;
            int row, cell;
            if (r < 40) {
                row = 0x24, cell = 0x21 + static_cast<int>(next() % 0x53);
            } else if (r < 55) {
                row = 0x25, cell = 0x21 + static_cast<int>(next() % 0x56);
            } else {
                row = 0x30 + static_cast<int>(next() % 0x1f), cell = 0x21 + static_cast<int>(next() % 0x5e);
            }
            text += static_cast<char>(row);
            text += static_cast<char>(cell);
        }
        text += "\x1b(B";
        text += (next() % 3 == 0) ? " POP3 server 110, version 1.2\r\n" : " (ok)\r\n";
    }
    return text;
}

std::string IconvToCp932(iconv_t cd, const std::string& in)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(in.size(), '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
        std::fprintf(stderr, "iconv stopped %zu bytes before the end\n", srcLeft);
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

std::string Word(const std::string& base64) { return "=?ISO-2022-JP?B?" + base64 + "?="; }

std::vector<std::string> MakeHeaders(int count)
{
    const char* subjects[] = {"GyRCJTUhPCVQITwkTiQqQ04kaSQ7GyhC", "GyRCMnE1RCROMEZGYhsoQg==",
                              "GyRCQEE1YT1xQXdJVRsoQg==", "GyRCJCIkJCQmJCgkKhsoQg=="};
    std::vector<std::string> headers;
    headers.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::string h = std::to_string(2000 + i * 7) + " octets\r\n";
        for (int r = 0; r < 3; ++r) {
            h += "Received: from mx" + std::to_string(r) + ".example.jp (mx" + std::to_string(r) +
                 ".example.jp [192.0.2." + std::to_string(i % 250) +
                 "])\r\n\tby pop.example.jp (Postfix) with ESMTP id 4F" + std::to_string(i * 31 + r) +
                 "\r\n\tfor <user@example.jp>; Mon, 7 Dec 2026 12:34:56 +0900 (JST)\r\n";
        }
        h += "Return-Path: <sender" + std::to_string(i) + "@example.com>\r\n";
        h += "Date: Mon, " + std::to_string(1 + i % 28) + " Dec 2026 12:" + std::to_string(10 + i % 50) +
             ":56 +0900\r\n";
        h += "From: " + Word("GyRCOzNFRBsoQg==") + " " + Word("GyRCQkBPOhsoQg==") + " <taro" +
             std::to_string(i) + "@example.com>\r\n";
        h += "To: user@example.jp\r\n";
        h += "Subject: Re: " + Word(subjects[i % 4]) + "\r\n " + Word(subjects[(i + 1) % 4]) + "\r\n";
        h += "Message-ID: <" + std::to_string(i) + ".1234567@mail.example.com>\r\n";
        h += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n";
        h += "Content-Transfer-Encoding: 7bit\r\nX-Mailer: Example Mailer 2.0\r\n";
        headers.push_back(std::move(h));
    }
    return headers;
}

}  // namespace

int main()
{
    const std::string jis = MakeJisText(20u << 20);
    const double mb = static_cast<double>(jis.size()) / (1 << 20);

    iconv_t cd = iconv_open("CP932", "ISO-2022-JP");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::perror("iconv_open");
        return 1;
    }
    double ours = 1e9, theirs = 1e9;
    std::string a, b;
    for (int round = 0; round < 7; ++round) {
        auto t = Clock::now();
        a = JisToShiftJis(jis);
        ours = std::min(ours, Seconds(t));
        t = Clock::now();
        b = IconvToCp932(cd, jis);
        theirs = std::min(theirs, Seconds(t));
    }
    iconv_close(cd);
    std::printf("input: %.1f MB of ISO-2022-JP, outputs %s\n", mb, a == b ? "identical" : "DIFFER");
    std::printf("JisToShiftJis: %8.1f MB/s\n", mb / ours);
    std::printf("iconv:         %8.1f MB/s\n", mb / theirs);
    std::printf("ratio:         %8.2f x iconv (target >= 3)\n", theirs / ours);

    const auto headers = MakeHeaders(10000);
    std::size_t bytes = 0;
    for (const auto& h : headers) bytes += h.size();
    double best = 1e9;
    std::size_t check = 0;
    for (int round = 0; round < 5; ++round) {
        const auto t = Clock::now();
        for (const auto& h : headers) {
            MailEntry row{"1", {"1234"}};
            FillMailEntry(row, h);
            check += row.subItems[2].size();
        }
        best = std::min(best, Seconds(t));
    }
    std::printf("10000 headers (%.1f MB) into list rows: %.1f ms (target < 100 ms) [%zu]\n",
                static_cast<double>(bytes) / (1 << 20), best * 1000, check);
    return a == b ? 0 : 1;
}
