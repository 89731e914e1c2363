// Checks the converters against text nobody here wrote: lines of Debian's
// Japanese manual pages, turned into ISO-2022-JP and CP932 by glibc iconv and
// into encoded words by Python's email.header.
#include <iconv.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mime/encoded_word.h"
#include "mime/jis.h"
#include "mime/parsed_message.h"

namespace {

std::optional<std::string> Iconv(const std::string& text, const char* to) {
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv cannot convert to " << to;
        return std::nullopt;
    }
    std::string out(text.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(text.data());
    std::size_t srcLeft = text.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1) &&
              iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok) {
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class JapaneseOracle : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string command = std::string(BOXSWEEPER_SOURCE_DIR) + "/scripts/japanese-corpus";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char buffer[4096];
        std::string output;
        while (std::fgets(buffer, sizeof buffer, pipe)) {
            output += buffer;
        }
        const int status = pclose(pipe);
        ASSERT_EQ(status, 0) << command << " failed: the Japanese corpus could not be prepared";
        while (!output.empty() && output.back() == '\n') {
            output.pop_back();
        }
        lines_ = ReadLines(output + "/ja-lines.txt");
        words_ = ReadLines(output + "/ja-words.txt");
    }

    static void TearDownTestSuite() {
        lines_.clear();
        words_.clear();
    }

    void SetUp() override {
        ASSERT_GT(lines_.size(), 1000u) << "no corpus";
        ASSERT_EQ(lines_.size(), words_.size());
    }

    static std::vector<std::string> lines_;
    static std::vector<std::string> words_;
};

std::vector<std::string> JapaneseOracle::lines_;
std::vector<std::string> JapaneseOracle::words_;

TEST_F(JapaneseOracle, JisToShiftJisMatchesIconv) {
    std::size_t compared = 0;
    std::size_t kanjiLines = 0;
    for (const auto& line : lines_) {
        // Lines with characters outside JIS X 0208 do not convert; they are
        // dropped, as are the few that CP932 cannot hold.
        const auto jis = Iconv(line, "ISO-2022-JP");
        const auto sjis = Iconv(line, "CP932");
        if (!jis || !sjis) {
            continue;
        }
        ++compared;
        kanjiLines += jis->find("\x1b$B") != std::string::npos;
        EXPECT_EQ(JisToShiftJis(*jis), *sjis) << "line: " << line;
        if (HasFailure()) {
            return;
        }
    }
    RecordProperty("compared", static_cast<int>(compared));
    EXPECT_GT(compared, 2000u);
    EXPECT_GT(kanjiLines, 2000u);
}

TEST_F(JapaneseOracle, EncodedWordsFromPythonMatchIconv) {
    std::size_t compared = 0;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto sjis = Iconv(lines_[i], "CP932");
        if (words_[i].empty() || !sjis || !Iconv(lines_[i], "ISO-2022-JP")) {
            continue;
        }
        ++compared;
        // Word by word: each one carries its own escape sequences.
        std::istringstream split(words_[i]);
        std::string decoded;
        std::string joined;
        std::string folded = "Subject: ";
        for (std::string word; split >> word;) {
            std::string value = word;
            DecodeEncodedWords(value);
            decoded += value;
            joined += (joined.empty() ? "" : " ") + value;
            folded += (folded.size() > 9 ? "\r\n " : "") + word;
        }
        EXPECT_EQ(decoded, *sjis) << "line: " << lines_[i];
        // As a folded header field: the fold's space stays between words.
        ParsedMessage message;
        message.Parse(folded + "\r\n\r\n");
        std::string subject;
        EXPECT_TRUE(message.GetField("Subject", subject));
        EXPECT_EQ(subject, joined) << "line: " << lines_[i];
        if (HasFailure()) {
            return;
        }
    }
    EXPECT_GT(compared, 2000u);
}

}  // namespace
