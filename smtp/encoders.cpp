#include "smtp/encoders.h"

#include <algorithm>
#include <cstring>

namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

int CompareNames(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (lower(a[i]) != lower(b[i])) return lower(a[i]) < lower(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

std::string_view NameOf(std::string_view line) {
    const std::size_t colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view{} : line.substr(0, colon);
}

constexpr char kMimeTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUuTable[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
static_assert(sizeof kMimeTable == 65 && sizeof kUuTable == 65);

}  // namespace

std::string TExStringList::Text() const {
    std::string text;
    for (const std::string& line : lines_) text += line + "\r\n";
    return text;
}

void TExStringList::SetText(std::string_view text) {
    lines_.clear();
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines_.emplace_back(line);
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
}

int TExStringList::IndexOfName(std::string_view name) const {
    if (!Sorted) {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].find(':') != std::string::npos && SameName(NameOf(lines_[i]), name))
                return static_cast<int>(i);
        }
        return -1;
    }
    int low = 0;
    int high = Count() - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const int c = CompareNames(NameOf(lines_[static_cast<std::size_t>(mid)]), name);
        if (c == 0) return mid;
        if (c < 0)
            low = mid + 1;
        else
            high = mid - 1;
    }
    return -1;
}

std::string TExStringList::GetValue(std::string_view name) const {
    const int i = IndexOfName(name);
    if (i < 0) return {};
    std::string_view line = lines_[static_cast<std::size_t>(i)];
    line.remove_prefix(line.find(':') + 1);
    if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    return std::string(line);
}

void TExStringList::SetValue(std::string_view name, std::string_view value) {
    int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    std::string line = std::string(name) + ": " + std::string(value);
    if (i < 0) {
        lines_.push_back(std::move(line));
    } else {
        lines_[static_cast<std::size_t>(i)] = std::move(line);
    }
}

void TNMUUProcessor::Encode() {
    struct RewindOutput {
        TNMUUProcessor& p;
        ~RewindOutput() {
            if (p.OutputStream) p.OutputStream->Seek(0, 0);
            if (p.OnEndEncode) p.OnEndEncode();
        }
    } rewind{*this};

    InputStream->Seek(0, 0);
    if (OnBeginEncode) OnBeginEncode();
    const char* table = Method == uuCode ? kUuTable : kMimeTable;
    const bool pad = Method == uuMime;
    unsigned char in[45];
    std::string line;
    for (;;) {
        const std::size_t n = InputStream->Read(in, sizeof in);
        if (n == 0) break;
        line.clear();
        if (Method == uuCode) line += table[n];
        std::size_t i = 0;
        for (; i + 3 <= n; i += 3) {
            line += table[in[i] >> 2];
            line += table[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
            line += table[((in[i + 1] & 15) << 2) | (in[i + 2] >> 6)];
            line += table[in[i + 2] & 63];
        }
        if (n - i == 1) {
            line += table[in[i] >> 2];
            line += table[(in[i] & 3) << 4];
            if (pad) line += "==";
        } else if (n - i == 2) {
            line += table[in[i] >> 2];
            line += table[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
            line += table[(in[i + 1] & 15) << 2];
            if (pad) line += '=';
        }
        line += "\r\n";
        OutputStream->Write(line.data(), line.size());
    }
    if (Method == uuCode) OutputStream->Write("`\r\n", 3);
}

TS_BufferStream::TS_BufferStream(TStream& wrapped) : wrapped_(wrapped), buffer_(BufferSize) {}

TS_BufferStream::~TS_BufferStream() {
    try {
        if (state_ == bsWrite) FlushBuffer();
    } catch (...) {
    }
}

void TS_BufferStream::FillBuffer() {
    end_ = wrapped_.Read(buffer_.data(), BufferSize);
    pointer_ = 0;
    state_ = end_ > 0 ? bsRead : bsUnknown;
    if (OnFillBuffer) OnFillBuffer();
}

void TS_BufferStream::FlushBuffer() {
    const std::size_t pending = pointer_;
    const std::size_t written = pending > 0 ? wrapped_.Write(buffer_.data(), pending) : 0;
    pointer_ = 0;
    end_ = 0;
    state_ = bsUnknown;
    if (OnFlushBuffer) OnFlushBuffer();
    if (written != pending) throw EStreamError("Write error");
}

std::size_t TS_BufferStream::Read(void* out, std::size_t count) {
    if (state_ == bsWrite) FlushBuffer();
    auto* dst = static_cast<char*>(out);
    std::size_t copied = 0;
    while (copied < count) {
        if (state_ != bsRead || pointer_ >= end_) {
            FillBuffer();
            if (state_ != bsRead) break;
        }
        const std::size_t n = std::min(count - copied, end_ - pointer_);
        std::memcpy(dst + copied, buffer_.data() + pointer_, n);
        pointer_ += n;
        copied += n;
    }
    return copied;
}

std::size_t TS_BufferStream::Write(const void* in, std::size_t count) {
    if (state_ == bsRead) {
        // Move the wrapped stream back to where the reader stands.
        wrapped_.Seek(-static_cast<long long>(end_ - pointer_), 1);
        pointer_ = 0;
        end_ = 0;
        state_ = bsUnknown;
    }
    const auto* src = static_cast<const char*>(in);
    std::size_t copied = 0;
    while (copied < count) {
        const std::size_t n = std::min(count - copied, BufferSize - pointer_);
        std::memcpy(buffer_.data() + pointer_, src + copied, n);
        pointer_ += n;
        copied += n;
        end_ = BufferSize;
        state_ = bsWrite;
        if (pointer_ == BufferSize) {
            try {
                FlushBuffer();
            } catch (const EStreamError&) {
                break;
            }
        }
    }
    return copied;
}

long long TS_BufferStream::LogicalPosition() {
    const long long base = wrapped_.Seek(0, 1);
    if (state_ == bsRead) return base - static_cast<long long>(end_ - pointer_);
    if (state_ == bsWrite) return base + static_cast<long long>(pointer_);
    return base;
}

long long TS_BufferStream::Seek(long long offset, int origin) {
    const long long here = LogicalPosition();
    long long target = 0;
    switch (origin) {
        case 0:
            target = offset;
            break;
        case 1:
            target = here + offset;
            break;
        case 2: {
            if (state_ == bsWrite) FlushBuffer();
            const long long size = wrapped_.Size();
            target = size - offset;
            break;
        }
        default:
            throw EStreamError("Invalid seek origin = " + std::to_string(origin));
    }
    if (target == LogicalPosition()) return target;
    if (state_ == bsWrite) {
        try {
            FlushBuffer();
        } catch (const EStreamError&) {
            throw EStreamError("Seek error");
        }
    }
    pointer_ = 0;
    end_ = 0;
    state_ = bsUnknown;
    return wrapped_.Seek(target, 0);
}

void TS_BufferStream::PutBack(char byte) {
    if (pointer_ == 0) throw EStreamError("PutBack overflow");
    buffer_[--pointer_] = byte;
}

bool TS_BufferStream::IsEof() {
    if (state_ == bsRead && pointer_ < end_) return false;
    if (state_ == bsWrite) return false;
    const long long here = wrapped_.Seek(0, 1);
    return here >= wrapped_.Size();
}
