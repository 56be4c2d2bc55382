#include "fda/byte_source.h"

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

FileSource::FileSource(platform::File file) : file_(file)
{
    if (!platform::file_size(file_, size_))
        size_ = 0;
}

std::size_t FileSource::read(void* buffer, std::size_t size)
{
    const std::size_t n = platform::read_file(file_, buffer, size);
    pos_ += n;
    return n;
}

bool FileSource::skip(std::uint64_t count)
{
    if (!platform::seek_file(file_, pos_ + count))
        return false;
    pos_ += count;
    return true;
}
