#include "smtp/stream.h"

#include <algorithm>
#include <cstring>

long long TStream::Size() {
    const long long here = Seek(0, 1);
    const long long end = Seek(0, 2);
    Seek(here, 0);
    return end;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    const std::size_t n = std::min(count, data_.size() - position_);
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (position_ + count > data_.size()) data_.resize(position_ + count);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ += count;
    return count;
}

long long TMemoryStream::Seek(long long offset, int origin) {
    long long base = origin == 0   ? 0
                     : origin == 1 ? static_cast<long long>(position_)
                                   : static_cast<long long>(data_.size());
    const long long target = std::clamp(base + offset, 0LL, static_cast<long long>(data_.size()));
    position_ = static_cast<std::size_t>(target);
    return target;
}

void TMemoryStream::Clear() {
    data_.clear();
    position_ = 0;
}

TFileStream::TFileStream(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {
    if (!file_) throw EStreamError("Cannot open file " + path);
}

TFileStream::~TFileStream() {
    std::fclose(file_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    return std::fread(buffer, 1, count, file_);
}

std::size_t TFileStream::Write(const void*, std::size_t) {
    return 0;
}

long long TFileStream::Seek(long long offset, int origin) {
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    if (std::fseek(file_, static_cast<long>(offset), whence) != 0) std::fseek(file_, 0, SEEK_END);
    return std::ftell(file_);
}
