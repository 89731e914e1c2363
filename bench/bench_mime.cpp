// Throughput of the Japanese text path: JisToShiftJis against glibc iconv
// on the same 20 MB of ISO-2022-JP text, and the time to fill list rows
// from 10,000 realistic headers. With MIME decoding: 10,000 headers of
// today's mail (UTF-8 B and Q words) into row texts, and the pane text of
// a message with a 20 MB Base64 attachment, each against Python's email
// package on the same input.
#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "mime/display_text.h"
#include "mime/encoded_word.h"
#include "mime/jis.h"
#include "mime/mail_entry.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Mail-like text: lines of kana and kanji with ASCII between them.
std::string MakeJisText(std::size_t bytes) {
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

std::string IconvToCp932(iconv_t cd, const std::string& in) {
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

std::string Word(const std::string& base64) {
    return "=?ISO-2022-JP?B?" + base64 + "?=";
}

std::vector<std::string> MakeHeaders(int count) {
    const char* subjects[] = {"GyRCJTUhPCVQITwkTiQqQ04kaSQ7GyhC",
                              "GyRCMnE1RCROMEZGYhsoQg==", "GyRCQEE1YT1xQXdJVRsoQg==", "GyRCJCIkJCQmJCgkKhsoQg=="};
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
        h += "From: " + Word("GyRCOzNFRBsoQg==") + " " + Word("GyRCQkBPOhsoQg==") + " <taro" + std::to_string(i) +
             "@example.com>\r\n";
        h += "To: user@example.jp\r\n";
        h += "Subject: Re: " + Word(subjects[i % 4]) + "\r\n " + Word(subjects[(i + 1) % 4]) + "\r\n";
        h += "Message-ID: <" + std::to_string(i) + ".1234567@mail.example.com>\r\n";
        h += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n";
        h += "Content-Transfer-Encoding: 7bit\r\nX-Mailer: Example Mailer 2.0\r\n";
        headers.push_back(std::move(h));
    }
    return headers;
}

std::string B64(const std::string& bytes) {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const auto b = [&](std::size_t j) { return j < bytes.size() ? static_cast<unsigned char>(bytes[j]) : 0u; };
        const unsigned v = b(i) << 16 | b(i + 1) << 8 | b(i + 2);
        out += k[v >> 18 & 63];
        out += k[v >> 12 & 63];
        out += i + 1 < bytes.size() ? k[v >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? k[v & 63] : '=';
    }
    return out;
}

// Headers as webmail and phones write them today.
std::vector<std::string> MakeModernHeaders(int count) {
    const std::string subjects[] = {"【重要】お支払い方法の確認 📩", "Re: 来週の打ち合わせ日程について",
                                    "𠮷野家クーポン配信のお知らせ", "회의 자료 송부 (한국 지사)"};
    std::vector<std::string> headers;
    for (int i = 0; i < count; ++i) {
        std::string h = std::to_string(3000 + i) + " octets\r\n";
        h += "Received: from mx.example.jp by pop.example.jp with ESMTPS id " + std::to_string(i) +
             "\r\n\tfor <user@example.jp>; Mon, 7 Dec 2026 12:34:56 +0900\r\n";
        h += "Date: Mon, " + std::to_string(1 + i % 28) + " Dec 2026 12:34:56 +0900\r\n";
        const std::string& s = subjects[i % 4];
        if (i % 2) {
            h += "Subject: =?UTF-8?B?" + B64(s.substr(0, 24)) + "?=\r\n =?UTF-8?B?" + B64(s.substr(24)) + "?=\r\n";
        } else {
            std::string q;
            for (unsigned char c : s) {
                char buf[4];
                std::snprintf(buf, sizeof buf, "=%02X", c);
                q += (c < 0x80 && c != ' ' && c != '=' && c != '?' && c != '_') ? std::string(1, static_cast<char>(c))
                     : c == ' '                                                 ? std::string("_")
                                                                                : buf;
            }
            h += "Subject: =?utf-8?q?" + q + "?=\r\n";
        }
        h += "From: =?UTF-8?B?" + B64("山田 太郎") + "?= <taro" + std::to_string(i) + "@example.com>\r\n";
        h += "To: user@example.jp\r\nMessage-ID: <" + std::to_string(i) + "@mail.example.com>\r\n";
        h += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n";
        headers.push_back(std::move(h));
    }
    return headers;
}

std::string MakeAttachmentMessage(std::size_t attachmentBytes) {
    std::string data(attachmentBytes, '\0');
    unsigned seed = 7;
    for (auto& c : data) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    const std::string b64 = B64(data);
    std::string m = "Subject: =?UTF-8?B?" + B64("資料を送ります") +
                    "?=\r\nFrom: a@example.jp\r\nMIME-Version: 1.0\r\n"
                    "Content-Type: multipart/mixed; boundary=\"XYZ\"\r\n\r\n--XYZ\r\n"
                    "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                    B64("お世話になっております。資料を添付します。\r\n") +
                    "\r\n--XYZ\r\n"
                    "Content-Type: application/pdf; name=\"data.pdf\"\r\nContent-Transfer-Encoding: base64\r\n"
                    "Content-Disposition: attachment; filename=\"data.pdf\"\r\n\r\n";
    m.reserve(m.size() + b64.size() * 78 / 76 + 64);
    for (std::size_t i = 0; i < b64.size(); i += 76) m += b64.substr(i, 76) + "\r\n";
    m += "--XYZ--\r\n";
    return m;
}

// Runs Python's email package on the same input: prints its best time in ms.
double PythonMs(const std::string& mode, const std::string& path) {
    const char* script = R"PY(
import email, email.policy, sys, time
mode, path = sys.argv[1], sys.argv[2]
data = open(path, 'rb').read()
best = 1e9
for _ in range(3):
    t = time.perf_counter()
    if mode == 'rows':
        for h in data.split(b'\0'):
            m = email.message_from_bytes(h, policy=email.policy.default)
            (str(m['Date']), str(m['Subject']), str(m['From']))
    else:
        m = email.message_from_bytes(data, policy=email.policy.default)
        body = m.get_body(('plain', 'html')).get_content()
        sizes = [len(a.get_content()) for a in m.iter_attachments()]
    best = min(best, time.perf_counter() - t)
print(best * 1000)
)PY";
    const std::string scriptPath = path + ".py";
    std::ofstream(scriptPath) << script;
    const std::string command = "/usr/bin/python3 " + scriptPath + " " + mode + " " + path;
    FILE* pipe = popen(command.c_str(), "r");
    double ms = -1;
    if (pipe) {
        if (std::fscanf(pipe, "%lf", &ms) != 1) ms = -1;
        pclose(pipe);
    }
    return ms;
}

void BenchMime() {
    const auto headers = MakeModernHeaders(10000);
    const std::string dir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    {
        std::ofstream out(dir + "/bench-mime-rows.bin", std::ios::binary);
        for (std::size_t i = 0; i < headers.size(); ++i) {
            // Without the status line, which is POP3's, not the message's.
            out << (i ? std::string(1, '\0') : "") << headers[i].substr(headers[i].find('\n') + 1);
        }
    }
    double best = 1e9;
    std::size_t check = 0;
    for (int round = 0; round < 5; ++round) {
        const auto t = Clock::now();
        for (const auto& h : headers) {
            const RowTexts row = MailRowTexts(h, true);
            check += row.subject.size() + row.sender.size();
        }
        best = std::min(best, Seconds(t));
    }
    const double python = PythonMs("rows", dir + "/bench-mime-rows.bin");
    std::printf(
        "10000 modern headers into row texts: %.1f ms (target < 100 ms); Python's email package %.0f ms [%zu]\n",
        best * 1000, python, check);

    const std::string message = MakeAttachmentMessage(15u << 20);
    { std::ofstream(dir + "/bench-mime-pane.eml", std::ios::binary) << message; }
    const std::string text = std::to_string(message.size()) + " octets\r\n" + message;
    best = 1e9;
    std::vector<std::string> lines;
    for (int round = 0; round < 5; ++round) {
        const auto t = Clock::now();
        lines = MessagePaneLines(text, true, false);
        best = std::min(best, Seconds(t));
    }
    const double paneMs = best * 1000;
    const double pythonPane = PythonMs("pane", dir + "/bench-mime-pane.eml");
    std::printf(
        "pane of a message with a %.1f MB Base64 attachment: %.1f ms; Python's email package %.0f ms; "
        "%.1f x (target >= 10)\n",
        static_cast<double>(message.size()) / (1 << 20), paneMs, pythonPane, pythonPane / paneMs);
    std::printf("  pane: %s | %s\n", lines.empty() ? "" : lines.front().c_str(),
                lines.empty() ? "" : lines.back().c_str());
}

}  // namespace

int main() {
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
    BenchMime();
    return a == b ? 0 : 1;
}
