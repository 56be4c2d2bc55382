#include "fda/byte_source.h"

#include <algorithm>
#include <cstring>

std::size_t MemorySource::read(void* buffer, std::size_t size)
{
    const std::size_t n = size < size_ - pos_ ? size : size_ - pos_;
    if (n)
        std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return n;
}

bool MemorySource::skip(std::uint64_t count)
{
    if (count > size_ - pos_)
        return false;
    pos_ += static_cast<std::size_t>(count);
    return true;
}

FileSource::FileSource(platform::File file)
    : file_(file), ahead_(new unsigned char[read_ahead])
{
    if (!platform::file_size(file_, size_))
        size_ = 0;
}

std::size_t FileSource::read(void* buffer, std::size_t size)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        if (ahead_at_ == ahead_end_) {
            const std::size_t want = size - done;
            if (want >= read_ahead) {
                // Too large to stage: straight into the caller's buffer.
                done += platform::read_file(file_, out + done, want);
                break;
            }
            ahead_at_ = 0;
            ahead_end_ = platform::read_file(file_, ahead_.get(), read_ahead);
            if (ahead_end_ == 0)
                break;
        }
        const std::size_t n = std::min(size - done, ahead_end_ - ahead_at_);
        std::memcpy(out + done, ahead_.get() + ahead_at_, n);
        ahead_at_ += n;
        done += n;
    }
    pos_ += done;
    return done;
}

bool FileSource::skip(std::uint64_t count)
{
    const std::size_t held = ahead_end_ - ahead_at_;
    if (count <= held) {
        ahead_at_ += static_cast<std::size_t>(count);
        pos_ += count;
        return true;
    }
    if (!platform::seek_file(file_, pos_ + count))
        return false;
    ahead_at_ = ahead_end_ = 0;
    pos_ += count;
    return true;
}
