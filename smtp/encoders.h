#pragma once

#include "smtp/stream.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A string list with header-style lookup: a line holding ":" is a header
// line whose name is everything before the first ":" (not trimmed). Names
// compare without regard to ASCII case.
class TExStringList {
public:
    bool Sorted = false;  // IndexOfName bisects when set

    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& Get(int index) const { return lines_.at(static_cast<std::size_t>(index)); }
    void Put(int index, std::string line) { lines_.at(static_cast<std::size_t>(index)) = std::move(line); }
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Delete(int index) { lines_.erase(lines_.begin() + index); }
    void Clear() { lines_.clear(); }
    const std::vector<std::string>& Lines() const { return lines_; }
    void Assign(const std::vector<std::string>& lines) { lines_ = lines; }
    // Every line followed by CR LF.
    std::string Text() const;
    // Splits at CR LF (or a bare LF); a final line end adds no empty line.
    void SetText(std::string_view text);

    // Index of the first line whose name equals name; -1 if none.
    int IndexOfName(std::string_view name) const;
    // The value after "name:" without one leading space; "" if none.
    std::string GetValue(std::string_view name) const;
    // A non-empty value replaces the line in place, or appends it; an
    // empty value deletes the line. The name is written as passed.
    void SetValue(std::string_view name, std::string_view value);

private:
    std::vector<std::string> lines_;
};

enum UUMethods { uuMime = 0, uuCode = 1 };

// Encodes a stream into Base64 lines of 60 characters (uuMime) or into
// uuencode lines with their length character and a closing "`" line
// (uuCode), each line ending in CR LF. No begin/end lines.
class TNMUUProcessor {
public:
    UUMethods Method = uuMime;
    TStream* InputStream = nullptr;   // not owned
    TStream* OutputStream = nullptr;  // not owned
    std::function<void()> OnBeginEncode, OnEndEncode;

    void Encode();
};

enum TS_BufferState { bsUnknown, bsRead, bsWrite };

// A buffer of BufferSize bytes between a caller and a wrapped stream:
// reads come from read-ahead, writes reach the wrapped stream a whole
// buffer at a time. Destruction flushes pending writes.
class TS_BufferStream : public TStream {
public:
    static constexpr std::size_t BufferSize = 32768;

    explicit TS_BufferStream(TStream& wrapped);
    ~TS_BufferStream() override;
    TS_BufferStream(const TS_BufferStream&) = delete;
    TS_BufferStream& operator=(const TS_BufferStream&) = delete;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    // Origin 2 counts back from the end: size minus offset.
    long long Seek(long long offset, int origin) override;
    void PutBack(char byte);
    bool IsEof();
    void FillBuffer();
    void FlushBuffer();

    std::function<void()> OnFillBuffer, OnFlushBuffer;
    TS_BufferState State() const { return state_; }

private:
    long long LogicalPosition();

    TStream& wrapped_;
    std::vector<char> buffer_;
    std::size_t pointer_ = 0;  // next byte to read or write
    std::size_t end_ = 0;      // end of valid data (read) or of the buffer (write)
    TS_BufferState state_ = bsUnknown;
};
