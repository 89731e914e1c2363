// MIME decoding against Python's email package: a few hundred messages
// built by mime_oracle_gen.py from the Japanese corpus lines, every
// charset, transfer encoding and structure the decoder handles, read once
// by the email package and once by the list and pane texts here.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mime/display_text.h"
#include "mime/html_text.h"

namespace {

using Record = std::map<std::string, std::string>;

std::string RunCommand(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    if (pclose(pipe) != 0) return {};
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

std::vector<Record> ReadRecords(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<Record> records(1);
    std::string key;
    std::size_t length = 0;
    while (in >> key >> length) {
        in.get();
        std::string value(length, '\0');
        in.read(value.data(), static_cast<std::streamsize>(length));
        in.get();
        if (key == "end") {
            records.emplace_back();
        } else {
            records.back()[key] = value;
        }
    }
    records.pop_back();
    return records;
}

// What the server sends for the message: a status rest and dot-stuffing.
std::string AsRetrText(const std::string& raw) {
    std::string text = std::to_string(raw.size()) + " octets\r\n";
    std::size_t from = 0;
    while (from < raw.size()) {
        if (raw[from] == '.') text += '.';
        const std::size_t lf = raw.find('\n', from);
        const std::size_t end = lf == std::string::npos ? raw.size() : lf + 1;
        text.append(raw, from, end - from);
        from = end;
    }
    return text;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size())) {
        text.replace(p, from.size(), to);
    }
    return text;
}

// The intended differences, each listed once. A record names those that
// apply to it in its "kind".
// - windows: Japanese charsets are read with the Windows mappings (the
//   email package uses the JIS ones): compared after mapping the JIS
//   characters to their Windows twins on both sides.
// - raw8bit: unencoded 8-bit header bytes are read as UTF-8, else CP932;
//   the email package shows CP932 as replacement characters, so the text
//   as written is the oracle.
// - unknown charset (in the raw8bit records): the word stays as sent; the
//   email package raises.
// - bad-base64: decoded as far as it goes; the email package's result is
//   not compared, only that ours starts with the text before the damage.
// - lang-suffix: "UTF-8*ja" is UTF-8; the email package raises, so the
//   value without the suffix is its oracle.
// - legacy: a message without MIME headers is converted from ISO-2022-JP
//   as the list always did; the email package reads US-ASCII (the oracle is
//   the body read as ISO-2022-JP).
std::string WindowsMappings(std::string text) {
    static const std::pair<const char*, const char*> kMap[] = {
        {"\u301C", "\uFF5E"}, {"\u2016", "\u2225"}, {"\u2212", "\uFF0D"}, {"\u00A2", "\uFFE0"},
        {"\u00A3", "\uFFE1"}, {"\u00AC", "\uFFE2"}, {"\u2014", "\u2015"},
    };
    for (const auto& [jis, windows] : kMap) text = Replace(text, jis, windows);
    return text;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

TEST(MimeOracle, ListAndPaneTextsMatchPythonsEmailPackage) {
    const std::string corpus = RunCommand(std::string(BOXSWEEPER_SOURCE_DIR) + "/scripts/japanese-corpus");
    ASSERT_FALSE(corpus.empty()) << "the Japanese corpus could not be prepared";
    // One file per run: the sanitizer builds may run at the same time.
    const std::string out = corpus + "/mime-oracle-" + std::to_string(getpid()) + ".bin";
    ASSERT_FALSE(RunCommand("/usr/bin/python3 " + std::string(BOXSWEEPER_SOURCE_DIR) +
                            "/tests/mime/mime_oracle_gen.py " + corpus + "/ja-lines.txt " + out)
                     .empty());
    const std::vector<Record> records = ReadRecords(out);
    std::remove(out.c_str());
    ASSERT_GT(records.size(), 400u);

    std::map<std::string, int> seen;
    for (std::size_t n = 0; n < records.size(); ++n) {
        const Record& r = records[n];
        std::set<std::string> kinds;
        for (const auto& k : Words(r.at("kind"))) kinds.insert(k), ++seen[k];
        const bool windows = kinds.count("windows") || kinds.count("legacy");
        auto norm = [&](const std::string& s) { return windows ? WindowsMappings(s) : s; };
        const std::string text = AsRetrText(r.at("raw"));
        SCOPED_TRACE("message " + std::to_string(n) + " (" + r.at("kind") + "):\n" + r.at("raw").substr(0, 600));

        const RowTexts row = MailRowTexts(text, true);
        EXPECT_EQ(norm(row.subject), norm(r.at("subject")));
        EXPECT_EQ(norm(row.sender), norm(r.at("from")));

        std::vector<std::string> lines = MessagePaneLines(text, true, false);
        std::string attachments;
        while (!lines.empty() && lines.back().rfind("[添付] ", 0) == 0) {
            attachments.insert(0, (attachments.empty() ? "" : "\n") + lines.back());
            lines.pop_back();
        }
        std::string body;
        for (std::size_t k = 0; k < lines.size(); ++k) body += (k ? "\n" : "") + lines[k];
        EXPECT_EQ(attachments, r.at("attach"));
        if (kinds.count("bad-base64")) {
            EXPECT_EQ(norm(body).rfind(norm(r.at("prefix")), 0), 0u) << body;
        } else if (r.at("bodytype") == "html") {
            EXPECT_EQ(Words(norm(body)), Words(norm(HtmlToText(r.at("body")))));
        } else {
            EXPECT_EQ(norm(body), norm(r.at("body")));
        }
        if (HasFailure()) return;
    }
    for (const char* kind : {"exact", "windows", "raw8bit", "bad-base64", "lang-suffix", "legacy"}) {
        EXPECT_GT(seen[kind], 0) << kind;
    }
}

}  // namespace
