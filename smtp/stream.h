#pragma once

#include <cstddef>
#include <cstdio>
#include <stdexcept>
#include <string>

// Stream failures ("Seek error", "PutBack overflow", a file that will not open).
class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A byte stream with a position. Seek origins: 0 from the start, 1 from the
// current position, 2 from the end (the offset added to the size).
class TStream {
public:
    virtual ~TStream() = default;
    // Bytes read or written; fewer than asked at the end or on failure.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // The new position; a position outside 0..size is clamped to it.
    virtual long long Seek(long long offset, int origin) = 0;
    long long Position() { return Seek(0, 1); }
    long long Size();
};

class TMemoryStream : public TStream {
public:
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    long long Seek(long long offset, int origin) override;
    void Clear();
    const std::string& Data() const { return data_; }

private:
    std::string data_;
    std::size_t position_ = 0;
};

// A file opened for reading; EStreamError "Cannot open file PATH" when it
// cannot be opened.
class TFileStream : public TStream {
public:
    explicit TFileStream(const std::string& path);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    long long Seek(long long offset, int origin) override;

private:
    std::FILE* file_ = nullptr;
};
